#include "FirmwareUpgrade.h"

#include "DeviceProtocol.h"
#include "FirmwarePackage.h"
#include "TKVCOMControl.h"

#include <QFileInfo>

namespace {

// "a.b" or "a.b.c.d" from the two words a refusal or progress notice carries.
QString partNumbers(quint32 word)
{
    return QString::number(hiByte(static_cast<quint16>(word))) + QLatin1Char('.')
        + QString::number(loByte(static_cast<quint16>(word)));
}

const QString &badFile()
{
    static const QString text = QStringLiteral("Bad FW file!");
    return text;
}

} // namespace

bool applyFirmwareNotice(const LinkNotice &notice, FirmwareUpgradeHost &host, FirmwareFlags flags)
{
    switch (notice.code) {
    case LinkMessage::PartRefused:
        host.appendMessage(QLatin1String("Write to Part_") + partNumbers(notice.wParam)
            + QLatin1Char('.') + partNumbers(notice.lParam) + QLatin1String(" failed"));
        flags.writeFailed = true;
        return true;
    case LinkMessage::PartProgress: {
        const auto percent = static_cast<quint16>(notice.lParam);
        if (percent != flags.lastPercent) {
            host.setGauge(QLatin1String("Upgrading Part_") + partNumbers(notice.wParam), percent);
            flags.lastPercent = percent;
        }
        return true;
    }
    case LinkMessage::Reboot:
        host.showRebootLine(notice.text, notice.lParam == 1);
        return true;
    default:
        return false;
    }
}

FirmwareUpgrade::FirmwareUpgrade(
    TKVCOMControl &link, FirmwareUpgradeHost &host, FirmwareFlags flags)
    : m_link(link), m_host(host), m_flags(flags)
{ }

bool FirmwareUpgrade::UpgradeFirmware(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (!QFileInfo::exists(path)) {
        m_host.appendError(
            QLatin1String("Firmware file: ") + path + QLatin1String(" does not exist"));
        return false;
    }
    if (m_flags.StopRequested)
        return false;
    // The whole package is checked before anything goes to the switcher: a damaged part found
    // only after the main controller was written would leave the switcher half upgraded.
    FirmwarePackageReader reader;
    if (!reader.open(path)) {
        m_host.appendError(QLatin1String("Firmware file: ") + path
            + QLatin1String(" cannot be read: ") + reader.error());
        return false;
    }
    if (const QString problem = reader.check(); !problem.isEmpty()) {
        m_host.appendError(badFile());
        m_host.appendError(QLatin1String("Firmware file: ") + path + QLatin1String(": ") + problem);
        return false;
    }
    // Busy before connecting on demand: a second click while the connect waits must not start
    // a second upgrade.
    if (!m_flags.RunnerIdle || m_link.connecting()) {
        m_host.showStatus(3, QStringLiteral("In processing, command ignored"));
        return false;
    }
    m_host.setUpgrading(true);
    m_flags.RunnerIdle = false;
    if (!m_link.Connected()) {
        m_host.connectLink();
        if (!m_link.Connected()) {
            m_flags.RunnerIdle = true;
            m_host.setUpgrading(false);
            return false;
        }
    }
    m_host.showStatus(3, QString());
    // From the first start packet to the end of the reboot wait no command gets a barrier
    // query: the switcher's restart puts the line back in step.
    const TKVCOMControl::BarrierHold hold(m_link);

    // The write-failure flag is cleared at every part; a refusal is remembered here so that
    // it fails the upgrade even when a later part goes through.
    m_partRefused = false;
    const QMetaObject::Connection watch = QObject::connect(
        &m_link, &TKVCOMControl::notification, &m_link, [this](const LinkNotice &notice) {
            if (notice.code == LinkMessage::PartRefused) {
                m_partRefused = true;
                m_flags.writeFailed = true;
            }
        });
    const bool partsWritten = upgradeParts(reader);
    QObject::disconnect(watch);

    m_flags.RunnerIdle = true;
    bool upgraded = false;
    if (partsWritten && !m_flags.StopRequested) {
        // A switcher may restart the moment it is told to, before it answers: no answer is
        // left to the reboot wait's probe. A switcher that refuses to reboot still runs its old
        // firmware, and waiting for it to "come back" would report a success that did not
        // happen.
        bool unanswered = false;
        const QMetaObject::Connection silence = QObject::connect(&m_link,
            &TKVCOMControl::notification, &m_link, [&unanswered](const LinkNotice &notice) {
                if (notice.code == LinkMessage::TimeOut)
                    unanswered = true;
            });
        const SwitcherOutcome reboot = m_host.run(SwitcherOperation::command(
            QStringLiteral("Reboot system ..."), false, DeviceProtocol::Command::System,
            DeviceProtocol::SystemSub::Reboot, DeviceProtocol::RebootWord));
        QObject::disconnect(silence);
        if ((reboot.ok() || unanswered) && m_link.Connected() && !m_flags.StopRequested) {
            m_flags.RunnerIdle = false;
            CommandResult back;
            m_link.WaitReboot(back);
            m_flags.RunnerIdle = true;
            if (back.Success) {
                m_host.appendMessage(QStringLiteral("Firmware upgrade successfully!"));
                m_host.showStatus(2, QStringLiteral("Firmware upgrade successfully"));
                upgraded = true;
            } else {
                m_host.setGauge(QStringLiteral("System reboot failed"), -1);
            }
        }
    }
    finish();
    return upgraded;
}

// Sends the parts one by one; true when every part of the package was written and none was
// refused.
bool FirmwareUpgrade::upgradeParts(FirmwarePackageReader &reader)
{
    do {
        m_host.setGauge(QStringLiteral("Upgrade progress"), 0);
        m_flags.lastPercent = FirmwareFlags::NoPercent;
        m_flags.writeFailed = false;

        FirmwareHeader header;
        QByteArray image;
        // The package was checked whole; a file changed since then still stops here.
        if (reader.next(header, image) != FirmwarePackageReader::Status::Ok) {
            m_host.appendError(badFile());
            return false;
        }
        m_link.setSendStream(image);
        image.clear();

        const QString name = header.partName();
        const QString upgrading = QLatin1String("Upgrading ") + name + QLatin1String(" ...");
        m_host.showStatus(2, upgrading);
        m_host.appendMessage(upgrading);

        const CommandPacket request = header.startPacket();
        CommandResult result;
        if (header.subcommand() == DeviceProtocol::FirmwareSub::Main)
            m_link.TransferMainPart(request, result);
        else
            m_link.TransferSlavePart(request, result);

        if (!result.Success) {
            const QString failed = QLatin1String("Upgrading ") + name + QLatin1String(" failed");
            m_host.appendError(failed);
            // Not the 100% of its last block: the part did not take.
            m_host.setGauge(failed, -1);
            return false;
        }
        if (m_flags.writeFailed) {
            m_host.showStatus(2, QLatin1String("Write ") + name + QLatin1String(" failed"), true);
        } else {
            m_host.appendMessage(name + QLatin1String(" upgrading complete"));
            m_host.showStatus(2, QStringLiteral("Done"));
        }
    } while (!reader.atEnd() && !m_flags.StopRequested);
    return !m_partRefused && !m_flags.writeFailed && !m_flags.StopRequested;
}

void FirmwareUpgrade::finish()
{
    m_host.setUpgrading(false);
    m_flags.RunnerIdle = true;
    m_host.showStatus(3, QString());
    m_link.setSendStream(QByteArray());
}
