#include "CtlCommand.h"

#include "FirmwareMerge.h"
#include "FirmwarePackage.h"
#include "FirmwareUpgrade.h"
#include "LinkStatusText.h"
#include "SwitcherSession.h"
#include "TKVCOMControl.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <optional>

// Firmware packages: merge images into a package, list a package, upgrade the switcher.
namespace {

constexpr int BarWidth = 30;

// Image options in package order: --main, --slave1, --slave2, --slave3.
constexpr const char *McuOptions[FirmwareMcuCount] = {"main", "slave1", "slave2", "slave3"};

// What --json leaves out of stdout: the memo lines and the gauge, which would break the document.
class Discard final : public QIODevice
{
public:
    Discard() { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override { return size; }
};

// Memo lines go to stdout, failures to stderr; the merge tool does not ask: an existing package
// is kept unless --overwrite was given.
class CliMergeHost final : public FirmwareMergeHost
{
public:
    CliMergeHost(QTextStream &out, QTextStream &err, bool overwrite)
        : m_out(out), m_err(err), m_overwrite(overwrite)
    { }
    void appendMessage(const QString &line) override { m_out << line << '\n'; }
    void appendError(const QString &line) override
    {
        m_out.flush();
        m_err << line << Qt::endl;
    }
    bool confirm(const QString &question) override
    {
        m_out << question << (m_overwrite ? " yes" : " no (use --overwrite)") << '\n';
        return m_overwrite;
    }

private:
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_overwrite;
};

CtlJob merge(const QStringList &args)
{
    FirmwareMergeSources sources;
    QString folder;
    bool overwrite = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--overwrite")) {
            overwrite = true;
            continue;
        }
        if (i + 1 >= args.size())
            throw UsageError{arg + QLatin1String(" wants a value")};
        const QString value = args[++i];
        if (arg == QLatin1String("-o")) {
            folder = value;
            continue;
        }
        bool known = false;
        for (int m = 0; m < FirmwareMcuCount; ++m) {
            const QString name = QLatin1String("--") + QLatin1String(McuOptions[m]);
            FirmwareMergeSource &source = sources[static_cast<std::size_t>(m)];
            if (arg == name) {
                source.file = value;
                known = true;
            } else if (arg == name + QLatin1String("-version")) {
                // As typed into the two version edits: each side clamped by the same rule.
                source.version1 = value.section(QLatin1Char('.'), 0, 0);
                source.version2 = value.section(QLatin1Char('.'), 1);
                known = true;
            }
        }
        if (!known)
            throw UsageError{QLatin1String("firmware merge: unknown option ") + arg};
    }
    if (std::all_of(sources.begin(), sources.end(),
            [](const FirmwareMergeSource &s) { return s.file.isEmpty(); }))
        throw UsageError{QStringLiteral("firmware merge needs at least one image")};
    if (!folder.isEmpty() && !QFileInfo(folder).isDir())
        throw UsageError{QLatin1String("-o: no folder ") + folder};

    return [sources, folder, overwrite](CtlContext &ctx) mutable {
        Discard discard;
        QTextStream memo(&discard);
        CliMergeHost host(ctx.json ? memo : ctx.out, ctx.err, overwrite);
        const FirmwareMergeResult result = MergeFirmware(sources, folder, host);
        if (result.outcome == FirmwareMergeResult::NothingMerged)
            ctx.err << "Nothing merged" << Qt::endl;
        if (ctx.json && result.outcome == FirmwareMergeResult::Canceled)
            ctx.err << "the package exists; use --overwrite" << Qt::endl;
        if (result.outcome != FirmwareMergeResult::Saved)
            return ExitFailed;
        if (ctx.json)
            printJson(ctx, {{QStringLiteral("package"), result.path}});
        return ExitOk;
    };
}

QString mcuLabel(const FirmwareHeader &header)
{
    for (int m = 0; m < FirmwareMcuCount; ++m) {
        const FirmwareMcuInfo &info = mcuInfo(static_cast<FirmwareMcu>(m));
        if (info.subcommand == header.subcommand() && info.mcu == header.mcu())
            return QLatin1String(info.label);
    }
    return QStringLiteral("unknown MCU");
}

// What firmware info finds in one part of a package; a part whose header cannot be read has no
// header.
struct PartReport
{
    int number = 0;
    qint64 offset = 0;
    std::optional<FirmwareHeader> header;
    QString mcu;
    bool checksum = true;
    QString problem; // empty: none
    bool pastEnd = false; // the image runs past the end of the file
};

QJsonObject jsonPart(const PartReport &part)
{
    QJsonObject object{
        {QStringLiteral("number"), part.number}, {QStringLiteral("offset"), part.offset}};
    if (part.header) {
        object.insert(QStringLiteral("name"), part.header->partName());
        object.insert(QStringLiteral("mcu"), part.mcu);
        object.insert(QStringLiteral("version"),
            QStringLiteral("%1.%2").arg(part.header->version1()).arg(part.header->version2()));
        object.insert(QStringLiteral("bytes"), qint64(part.header->imageLength()));
        object.insert(QStringLiteral("headerChecksum"), part.checksum);
    }
    if (!part.problem.isEmpty())
        object.insert(QStringLiteral("problem"), part.problem);
    if (part.pastEnd)
        object.insert(QStringLiteral("imagePastEnd"), true);
    return object;
}

void printPart(QTextStream &out, const PartReport &part)
{
    out << "Part " << part.number << " at " << part.offset << ": ";
    if (!part.header) {
        out << part.problem << '\n';
        return;
    }
    const FirmwareHeader &header = *part.header;
    out << header.partName() << "  " << part.mcu << "  version " << header.version1() << '.'
        << header.version2() << "  " << header.imageLength() << " bytes  header "
        << (part.checksum ? "checksum ok" : "checksum BAD");
    if (!part.problem.isEmpty())
        out << "  (" << part.problem << ')';
    out << '\n';
    if (part.pastEnd)
        out << "Part " << part.number << ": image runs past the end of the file\n";
}

CtlJob info(const QStringList &args)
{
    if (args.size() != 1)
        throw UsageError{QStringLiteral("firmware info takes one package file")};
    return [path = args[0]](CtlContext &ctx) {
        FirmwarePackageReader reader;
        if (!reader.open(path)) {
            ctx.err << "Firmware file: " << path << " cannot be read: " << reader.error()
                    << Qt::endl;
            return ExitFailed;
        }
        using Status = FirmwarePackageReader::Status;
        QList<PartReport> parts;
        bool good = true;
        for (int n = 1;; ++n) {
            PartReport part;
            part.number = n;
            part.offset = reader.position();
            FirmwareHeader header;
            Status status = reader.readHeader(header);
            if (status == Status::End)
                break;
            if (status == Status::ShortHeader || status == Status::ReadError) {
                part.problem = status == Status::ShortHeader ? QStringLiteral("truncated header")
                                                             : QStringLiteral("read error");
                parts.append(part);
                good = false;
                break;
            }
            part.header = header;
            part.mcu = mcuLabel(header);
            part.checksum = status != Status::BadChecksum;
            part.problem = status == Status::UnknownPart ? QStringLiteral("not a firmware part")
                : status == Status::UnknownMcu           ? QStringLiteral("no such MCU")
                : status == Status::EmptyImage           ? QStringLiteral("empty image")
                                                         : QString();
            good = good && status == Status::Ok;
            // The length of a damaged header may still lead to the next part; follow it only
            // as far as the file goes.
            part.pastEnd = reader.skipImage(header) != Status::Ok;
            parts.append(part);
            if (part.pastEnd) {
                good = false;
                break;
            }
        }
        const bool empty = reader.size() == 0;
        good = good && !empty;
        if (ctx.json) {
            QJsonArray list;
            for (const PartReport &part : std::as_const(parts))
                list.append(jsonPart(part));
            printJson(ctx,
                {{QStringLiteral("parts"), list}, {QStringLiteral("empty"), empty},
                    {QStringLiteral("ok"), good}});
        } else {
            for (const PartReport &part : std::as_const(parts))
                printPart(ctx.out, part);
            if (empty)
                ctx.out << "Empty package\n";
        }
        return good ? ExitOk : ExitFailed;
    };
}

// The FW page for a terminal: memo lines and the link's reports as lines, the gauge as a bar
// redrawn in place.
class CliUpgradeHost final : public FirmwareUpgradeHost
{
public:
    explicit CliUpgradeHost(CtlContext &ctx) : m_ctx(ctx) { }

    void appendMessage(const QString &line) override
    {
        endLine();
        out() << line << '\n';
        out().flush();
    }
    void appendError(const QString &line) override { failure(line); }
    void showRebootLine(const QString &text, bool replacesRebooting) override
    {
        if (replacesRebooting && m_rebooting) {
            out() << '\r' << text;
        } else {
            endLine();
            out() << text;
        }
        m_rebooting = replacesRebooting && text.contains(QLatin1String("System rebooting"));
        m_open = true;
        if (!replacesRebooting)
            endLine();
        out().flush();
    }
    void showStatus(int panel, const QString &text, bool blink) override
    {
        // Failures blink in the window's status bar; here they go to stderr.
        if (panel == 2 && blink && !text.isEmpty())
            failure(text);
    }
    void setGauge(const QString &caption, int percent) override
    {
        // A negative percent: a failure, shown by its caption on an empty bar.
        const int filled = BarWidth * std::max(percent, 0) / 100;
        if (m_open)
            endLine();
        out() << '\r' << '[' << QString(filled, QLatin1Char('#'))
              << QString(BarWidth - filled, QLatin1Char('-')) << "] "
              << (percent < 0 ? QStringLiteral("   ") : QString::number(percent).rightJustified(3))
              << "% " << caption;
        m_bar = true;
        out().flush();
    }
    void setUpgrading(bool) override { }
    void connectLink() override { m_ctx.device.connect(); }
    SwitcherOutcome run(const SwitcherOperation &operation) override
    {
        // Straight over the link: its notices tell the failures, as for the parts.
        SwitcherSession session(m_ctx.device.link());
        return session.run(operation);
    }

    void failure(const QString &text)
    {
        endLine();
        out().flush();
        m_ctx.err << text << Qt::endl;
    }

private:
    // Ends a bar or spinner line so that the next output starts on a line of its own.
    void endLine()
    {
        if (m_open || m_bar)
            out() << '\n';
        m_open = m_bar = m_rebooting = false;
    }

    // The memo lines and the gauge; left out with --json.
    QTextStream &out() { return m_ctx.json ? m_memo : m_ctx.out; }

    CtlContext &m_ctx;
    Discard m_discard;
    QTextStream m_memo{&m_discard};
    bool m_open = false; // a reboot line without its line break
    bool m_bar = false; // a progress bar without its line break
    bool m_rebooting = false;
};

CtlJob upgrade(const QStringList &args)
{
    if (args.size() != 1)
        throw UsageError{QStringLiteral("firmware upgrade takes one package file")};
    return [path = args[0]](CtlContext &ctx) {
        TKVCOMControl &link = ctx.device.link();
        // Connected here so that a connection failure is told in the link's words; a package
        // that is missing or damaged is told by the procedure, which never connects for it.
        FirmwarePackageReader probe;
        if (QFileInfo::exists(path) && probe.open(path) && probe.check().isEmpty()
            && !ctx.device.connect())
            return ExitFailed;

        bool stop = false, idle = true, writeFailed = false;
        quint16 lastPercent = FirmwareFlags::NoPercent;
        const FirmwareFlags flags{stop, idle, writeFailed, lastPercent};
        CliUpgradeHost host(ctx);
        const QMetaObject::Connection notices = QObject::connect(
            &link, &TKVCOMControl::notification, &link, [&](const LinkNotice &notice) {
                if (applyFirmwareNotice(notice, host, flags))
                    return;
                const QString text = linkStatusText(notice, link);
                if (!text.isEmpty())
                    host.failure(text);
            });
        FirmwareUpgrade procedure(link, host, flags);
        const bool upgraded = procedure.UpgradeFirmware(path);
        QObject::disconnect(notices);
        if (!upgraded)
            host.failure(QStringLiteral("Firmware upgrade failed"));
        else if (ctx.json)
            printJson(ctx, {{QStringLiteral("upgraded"), path}});
        return upgraded ? ExitOk : ExitFailed;
    };
}

CtlJob firmware(const QStringList &args)
{
    const QString what = args.value(0);
    const QStringList rest = args.mid(1);
    if (what == QLatin1String("merge"))
        return merge(rest);
    if (what == QLatin1String("info"))
        return info(rest);
    if (what == QLatin1String("upgrade"))
        return upgrade(rest);
    throw UsageError{QStringLiteral("firmware takes merge, info or upgrade")};
}

} // namespace

void addFirmwareCommands(CtlCommandTable &table)
{
    table.append({QStringLiteral("firmware"),
        QStringLiteral(
            "firmware merge [--MCU FILE [--MCU-version V1.V2]]... [-o DIR] [--overwrite]\n"
            "                              MCU is main, slave1, slave2 or slave3: build\n"
            "                              Zelkora8_<versions>.fw in DIR (default: the first\n"
            "                              image's folder); version parts above 255 are 255\n"
            "firmware info FILE.fw         list a package's parts and check their headers\n"
            "firmware upgrade FILE.fw      write a package to the switcher and reboot it"),
        firmware});
}
