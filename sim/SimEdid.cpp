#include "SimEdid.h"

#include "SimEdidData.h"
#include "SwitcherSimulator.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcSim)

namespace {

using namespace DeviceProtocol;

constexpr quint8 Refused = Status::Failed;
// Display EDID files larger than the largest E-EDID are cut there.
constexpr qint64 MaxFileEdid = 256 * 128;

bool take(int &counter)
{
    if (counter <= 0)
        return false;
    --counter;
    return true;
}

bool isBlockRequest(quint16 word1)
{
    return word1 == Block::More || word1 == Block::Next || word1 == Block::Repeat;
}

bool isDataFrame(quint8 subcommand, quint16 word1)
{
    return (subcommand == EdidSub::DownloadAll || subcommand == EdidSub::Download)
        && (word1 == Block::More || word1 == Block::Last);
}

void reseal(QByteArray &frame)
{
    frame[12] = static_cast<char>(PacketChecksum(CommandPacket::fromBytes(frame)));
}

} // namespace

SimEdid::SimEdid(SwitcherSimulator &simulator) : m_sim(simulator)
{
    m_inputs.fill(SimEdidData::defaultEdid());
    m_users = {SimEdidData::userEdid(1), SimEdidData::userEdid(2)};
}

void SimEdid::setBlockSize(int bytes)
{
    m_blockSize = std::clamp(bytes, 1, BlockFrame::MaxData);
}

QByteArray SimEdid::inputEdid(int input) const
{
    return input >= 1 && input <= PortCount ? m_inputs[std::size_t(input - 1)] : QByteArray();
}

QByteArray SimEdid::userEdid(int memory) const
{
    return memory == 1 || memory == 2 ? m_users[std::size_t(memory - 1)] : QByteArray();
}

QByteArray SimEdid::displayEdid(int output) const
{
    if (output < 1 || output > PortCount)
        return {};
    const QByteArray &set = m_displays[std::size_t(output - 1)];
    if (!set.isEmpty())
        return set;
    const QByteArray file = folderEdid(output);
    return file.isEmpty() ? SimEdidData::displayEdid(output) : file;
}

void SimEdid::setDisplayEdid(int output, const QByteArray &edid)
{
    if (output >= 1 && output <= PortCount)
        m_displays[std::size_t(output - 1)] = edid;
}

QByteArray SimEdid::folderEdid(int output) const
{
    const QString folder = m_sim.edidDirectory();
    if (folder.isEmpty())
        return {};
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("*.bin")}, QDir::Files | QDir::Readable, QDir::Name);
    if (files.isEmpty())
        return {};
    QFile file(files[(output - 1) % files.size()].filePath());
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcSim) << "cannot read" << file.fileName() << file.errorString();
        return {};
    }
    return file.read(MaxFileEdid);
}

qsizetype SimEdid::frameLength(const CommandPacket &header) const
{
    if (header.command() != Command::Edid)
        return 0;
    const quint8 subcommand = header.subcommand();
    if (isDataFrame(subcommand, header.word(1)))
        return BlockFrame::Size;
    return subcommand >= EdidSub::SetModeAll && subcommand <= EdidSub::Auto ? CommandPacket::Size
                                                                            : 0;
}

QByteArray SimEdid::handleFrame(const QByteArray &frame)
{
    const CommandPacket request = CommandPacket::fromBytes(frame);
    if (request.bytes[0] != CommandPacket::Lead1 || request.bytes[1] != CommandPacket::Lead2
        || PacketChecksum(request) != request.checksum())
        return {};
    const quint8 subcommand = request.subcommand();
    if (subcommand == EdidSub::Read && isBlockRequest(request.word(1)))
        return readBlock(request);
    if (isDataFrame(subcommand, request.word(1)))
        return downloadFrame(frame);

    QByteArray reply = m_sim.handle(request);
    if (reply.isEmpty())
        return reply;
    const quint8 status = CommandPacket::fromBytes(reply).status();
    if (subcommand == EdidSub::Read || subcommand == EdidSub::DownloadAll
        || subcommand == EdidSub::Download) {
        // A new start ends whatever transfer of that kind was under way.
        if (subcommand == EdidSub::Read)
            m_read.reset();
        else
            m_download.reset();
        if (status == Refused)
            return reply;
        if (subcommand != EdidSub::Read && take(m_faults.declineDownload)) {
            reply[4] = Status::Accepted;
            reseal(reply);
            return reply;
        }
        startTransfer(request);
    } else if (status == Status::Accepted) {
        applyCommand(request);
    }
    return reply;
}

void SimEdid::startTransfer(const CommandPacket &request)
{
    if (request.subcommand() == EdidSub::Read)
        m_read = Read{displayEdid(loByte(request.word(1))), 0, 0};
    else
        m_download = Download{request.subcommand(), request.word(1), {}};
}

QByteArray SimEdid::readBlock(const CommandPacket &request)
{
    QByteArray data;
    quint8 status = Refused;
    if (m_sim.state().powerOn && m_read) {
        Read &r = *m_read;
        if (request.word(1) == Block::More)
            r.offset = 0;
        else if (request.word(1) == Block::Next)
            r.offset = std::min(r.offset + r.lastSize, r.data.size());
        data = r.data.mid(r.offset, m_blockSize);
        r.lastSize = data.size();
        status = loByte(r.offset + data.size() >= r.data.size() ? Block::Last : Block::More);
    }
    if (take(m_faults.refuseBlock))
        status = Refused;
    quint16 length = static_cast<quint16>(data.size());
    if (take(m_faults.oversizeBlock))
        length = BlockFrame::Size;

    const CommandPacket header = CommandPacket::make(Command::Edid, EdidSub::Read, status, length);
    QByteArray frame = BlockFrame::build(header, data, BlockFrame::Size);
    if (take(m_faults.badBlockHeader)) {
        frame[1] = static_cast<char>(CommandPacket::Lead2 ^ 0x01);
        reseal(frame);
    }
    if (take(m_faults.badBlockChecksum))
        frame[CommandPacket::Size] = static_cast<char>(frame[CommandPacket::Size] + 1);
    ++m_blocksSent;
    return frame;
}

QByteArray SimEdid::downloadFrame(const QByteArray &frame)
{
    const CommandPacket header = CommandPacket::fromBytes(frame);
    const std::optional<QByteArray> data = BlockFrame::data(frame);
    bool taken = m_sim.state().powerOn && m_download
        && m_download->subcommand == header.subcommand() && data;
    if (take(m_faults.refuseBlock))
        taken = false;
    if (taken) {
        ++m_framesTaken;
        m_download->data += *data;
        if (header.word(1) == Block::Last) {
            commit(*m_download);
            m_download.reset();
        }
    }
    return SwitcherSimulator::makeReply(header, taken ? Status::Accepted : Refused).toByteArray();
}

void SimEdid::commit(const Download &download)
{
    auto &modes = m_sim.state().edidMode;
    const auto setInput = [&](int input) {
        m_inputs[std::size_t(input - 1)] = download.data;
        modes[std::size_t(input - 1)] = SwitcherState::EdidDownloaded;
    };
    if (download.subcommand == EdidSub::DownloadAll) {
        for (int input = 1; input <= PortCount; ++input)
            setInput(input);
    } else if (download.target == EdidUser1) {
        m_users[0] = download.data;
    } else if (download.target == EdidUser2) {
        m_users[1] = download.data;
    } else {
        setInput(loByte(download.target));
    }
}

QByteArray SimEdid::sourceEdid(quint16 modeWord) const
{
    if (modeWord == EdidUser1)
        return m_users[0];
    if (modeWord == EdidUser2)
        return m_users[1];
    return SimEdidData::modeEdid(modeWord);
}

void SimEdid::applyCommand(const CommandPacket &request)
{
    const quint16 word1 = request.word(1);
    const quint16 word2 = request.word(2);
    const auto setAll = [this](const QByteArray &edid) { m_inputs.fill(edid); };
    const auto setOne
        = [this](int input, const QByteArray &edid) { m_inputs[std::size_t(input - 1)] = edid; };
    // The interpreter has accepted the command, so its ports and words are valid.
    switch (request.subcommand()) {
    case EdidSub::SetModeAll:
        setAll(sourceEdid(word1));
        break;
    case EdidSub::SetMode:
        setOne(word2, sourceEdid(word1));
        break;
    case EdidSub::CopyAll:
        setAll(displayEdid(word1));
        break;
    case EdidSub::Copy:
        setOne(word2, displayEdid(word1));
        break;
    case EdidSub::AutoAll:
        setAll(SimEdidData::defaultEdid());
        break;
    case EdidSub::Auto:
        setOne(word1, SimEdidData::defaultEdid());
        break;
    default:
        break;
    }
}
