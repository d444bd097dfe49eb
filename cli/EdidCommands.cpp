#include "CtlCommand.h"

#include "DeviceProtocol.h"
#include "EdidCommands.h"
#include "EdidContent.h"
#include "EdidFile.h"
#include "EdidGridModel.h"
#include "EdidTexts.h"
#include "SwitcherJson.h"
#include "TKVCOMControl.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTextStream>

// EDID: read a display's EDID, download a file, set modes, copy, check files. Each device
// operation makes the same requests, in the same order, as the window's EDID page.
namespace {

const QString All = QStringLiteral("all");

int outputArgument(const QString &text)
{
    const auto port = parsePort(text);
    if (!port || *port > DeviceProtocol::PortCount)
        throw UsageError{
            QStringLiteral("OUT must be an output 1-%1").arg(DeviceProtocol::PortCount)};
    return *port;
}

// An input 1-6 or "all", as an index of the page's input lists.
int inputTargetArgument(const QString &text)
{
    if (text.compare(All, Qt::CaseInsensitive) == 0)
        return EdidAllInputsIndex;
    const auto port = parsePort(text);
    if (!port || *port > DeviceProtocol::PortCount)
        throw UsageError{
            QStringLiteral("TARGET must be an input 1-%1 or all").arg(DeviceProtocol::PortCount)};
    return *port;
}

// An input, "all", "user1" or "user2", as an index of the page's download list.
int downloadTargetArgument(const QString &text)
{
    if (text.compare(QLatin1String("user1"), Qt::CaseInsensitive) == 0)
        return EdidUser1MemoryIndex;
    if (text.compare(QLatin1String("user2"), Qt::CaseInsensitive) == 0)
        return EdidUser2MemoryIndex;
    try {
        return inputTargetArgument(text);
    } catch (const UsageError &) {
        throw UsageError{QStringLiteral("TARGET must be an input 1-%1, all, user1 or user2")
                             .arg(DeviceProtocol::PortCount)};
    }
}

// A mode by its number in the list, its text in any letter case, or "default".
int modeArgument(const QString &text, const QStringList &modes)
{
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber && number >= 1 && number < modes.size())
        return number;
    if (text.compare(QLatin1String("default"), Qt::CaseInsensitive) == 0)
        return static_cast<int>(modes.size() - 1);
    for (int i = 1; i < modes.size(); ++i) {
        if (modes[i].compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    throw UsageError{QStringLiteral("MODE must be a number or a name from \"edid modes\"")};
}

QString targetName(int index)
{
    if (index == EdidAllInputsIndex)
        return QStringLiteral("All Inputs");
    if (index == EdidUser1MemoryIndex)
        return QStringLiteral("User1 Memory");
    if (index == EdidUser2MemoryIndex)
        return QStringLiteral("User2 Memory");
    return QStringLiteral("Input") + QString::number(index);
}

bool run(CtlContext &ctx, const EdidCommand &command, CommandResult *result = nullptr)
{
    return ctx.device.execute(
        command.command, command.subcommand, command.word1, command.word2, 0, 0, result);
}

// The output connection query made before a copy or a read; false (reason on stderr) when
// it failed or no display is connected.
bool outputConnected(CtlContext &ctx, int output)
{
    CommandResult result;
    run(ctx, outputConnectionQuery(output), &result);
    const quint8 state = outputConnectionState(result);
    if (state == OutputNotConnected) {
        ctx.device.setErrorCode(QStringLiteral("refused"));
        QString text = EdidTexts::outputNotConnected(output);
        // One line, as every error line is.
        ctx.err << text.replace(QLatin1String("\r\n"), QLatin1String(" ")) << Qt::endl;
    }
    return state == OutputConnected;
}

// The size a file's check reports: a file is read only as far as needed to refuse it.
qint64 fileSize(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    return info.isFile() ? info.size() : bytes.size();
}

QString contentError(QByteArrayView bytes, qint64 size)
{
    return EdidTexts::contentError() + QStringLiteral(" (")
        + edidCheckReason(checkEdidContent(bytes), size) + QLatin1Char(')');
}

void printGrid(QTextStream &out, const EdidGridModel &grid)
{
    for (int row = 0; row < EdidGridModel::Rows; ++row) {
        QStringList cells;
        for (int column = 0; column < EdidGridModel::Columns; ++column)
            cells += grid.cell(column, row).rightJustified(2);
        out << cells.join(QLatin1Char(' ')) << '\n';
    }
}

CtlJob read(const QStringList &args)
{
    QStringList rest = args;
    QString path;
    const qsizetype option = rest.indexOf(QStringLiteral("-o"));
    if (option >= 0) {
        if (option + 1 >= rest.size())
            throw UsageError{QStringLiteral("-o needs a FILE")};
        path = rest.takeAt(option + 1);
        rest.removeAt(option);
    }
    if (rest.size() != 1)
        throw UsageError{QStringLiteral("edid read takes OUT [-o FILE]")};
    const int output = outputArgument(rest[0]);
    return [output, path](CtlContext &ctx) {
        if (!outputConnected(ctx, output))
            return ExitFailed;
        TKVCOMControl &link = ctx.device.link();
        CommandResult result;
        ctx.device.clearFailure();
        link.ReadEDIDBlocks(edidReadCommand(output)->packet(), result);
        if (!result.Success) {
            ctx.device.reportFailure();
            return ExitFailed;
        }
        const QByteArray &bytes = link.EDIDReadStream();
        EdidGridModel grid;
        if (checkEdidContent(bytes) == EdidCheck::WrongSize) {
            // The same words as the window's message box.
            ctx.err << EdidTexts::readSizeRefused(output, bytes.size())
                           .replace(QLatin1String("\r\n"), QLatin1String(" "))
                    << Qt::endl;
            return ExitFailed;
        }
        if (!grid.ShowEDIDContent(bytes)) {
            ctx.err << contentError(bytes, bytes.size()) << Qt::endl;
            return ExitFailed;
        }
        QByteArray block;
        grid.EDIDContentToBuffer(block);
        const QString summary = edidSummaryLine(decodeEdidSummary(block));
        if (!path.isEmpty()) {
            QString error;
            if (!EdidFile::save(path, block, &error)) {
                ctx.err << error << Qt::endl;
                return ExitFailed;
            }
        }
        if (ctx.json) {
            QJsonObject document{{SwitcherJson::Output, output},
                {QStringLiteral("summary"), summary},
                {QStringLiteral("bytes"), QString::fromLatin1(block.toHex(' ').toUpper())}};
            if (!path.isEmpty())
                document.insert(QStringLiteral("file"), path);
            printJson(ctx, document);
            return ExitOk;
        }
        ctx.out << "Output" << output << ": " << summary << '\n';
        if (path.isEmpty())
            printGrid(ctx.out, grid);
        return ExitOk;
    };
}

CtlJob download(const QStringList &args)
{
    if (args.size() != 2)
        throw UsageError{QStringLiteral("edid download takes TARGET FILE")};
    const int target = downloadTargetArgument(args[0]);
    const QString path = args[1];
    return [target, path](CtlContext &ctx) {
        const EdidFile::ReadResult file = EdidFile::Read(path);
        if (!file.ok) {
            ctx.err << file.error << Qt::endl;
            return ExitFailed;
        }
        // What goes to the switcher is what the page's view holds: the file's 256 bytes.
        EdidGridModel grid;
        QByteArray block;
        if (!grid.ShowEDIDContent(file.bytes) || !grid.EDIDContentToBuffer(block)) {
            ctx.err << contentError(file.bytes, fileSize(path, file.bytes)) << Qt::endl;
            return ExitFailed;
        }
        const EdidCommand command = *edidDownloadCommand(target);
        if (!run(ctx, edidPrepareCommand(command.progress)))
            return ExitFailed;
        TKVCOMControl &link = ctx.device.link();
        link.setSendStream(block);
        CommandResult result;
        ctx.device.clearFailure();
        link.DownloadEDIDBlocks(command.packet(), result);
        if (!result.Success) {
            ctx.device.reportFailure();
            return ExitFailed;
        }
        const QString summary = edidSummaryLine(decodeEdidSummary(block));
        if (ctx.json)
            printJson(ctx,
                {{QStringLiteral("target"), targetName(target)},
                    {QStringLiteral("summary"), summary}});
        else
            ctx.out << targetName(target) << ": " << summary << '\n';
        return ExitOk;
    };
}

CtlJob mode(const QStringList &args)
{
    if (args.size() != 2)
        throw UsageError{QStringLiteral("edid mode takes MODE TARGET")};
    const QStringList modes = edidModeList();
    const int mode = modeArgument(args[0], modes);
    const int target = inputTargetArgument(args[1]);
    const EdidCommand command = *edidSetModeCommand(modes, mode, target);
    return [command, target, name = modes[mode]](CtlContext &ctx) {
        if (!run(ctx, edidPrepareCommand(command.progress)) || !run(ctx, command))
            return ExitFailed;
        if (ctx.json)
            printJson(ctx,
                {{QStringLiteral("target"), targetName(target)}, {QStringLiteral("mode"), name}});
        else
            ctx.out << targetName(target) << ": " << name << '\n';
        return ExitOk;
    };
}

CtlJob copy(const QStringList &args)
{
    if (args.size() != 2)
        throw UsageError{QStringLiteral("edid copy takes OUT TARGET")};
    const int output = outputArgument(args[0]);
    const int target = inputTargetArgument(args[1]);
    const EdidCommand command = *edidCopyCommand(output, target);
    return [command, output, target](CtlContext &ctx) {
        if (!outputConnected(ctx, output) || !run(ctx, edidPrepareCommand(command.progress))
            || !run(ctx, command))
            return ExitFailed;
        if (ctx.json)
            printJson(ctx,
                {{QStringLiteral("target"), targetName(target)}, {SwitcherJson::Output, output}});
        else
            ctx.out << targetName(target) << ": EDID of Output" << output << '\n';
        return ExitOk;
    };
}

CtlJob check(const QStringList &args)
{
    if (args.size() != 1)
        throw UsageError{QStringLiteral("edid check takes FILE")};
    return [path = args[0]](CtlContext &ctx) {
        const EdidFile::ReadResult file = EdidFile::Read(path);
        if (!file.ok) {
            ctx.err << file.error << Qt::endl;
            return ExitFailed;
        }
        const EdidSummary summary = decodeEdidSummary(file.bytes);
        const EdidCheck verdict = checkEdidContent(file.bytes);
        if (ctx.json) {
            QJsonObject document{{QStringLiteral("summary"), edidSummaryLine(summary)},
                {QStringLiteral("decoded"), summary.decoded},
                {QStringLiteral("accepted"), verdict == EdidCheck::Ok}};
            if (summary.decoded) {
                document.insert(QStringLiteral("manufacturer"), summary.manufacturer);
                document.insert(QStringLiteral("productCode"), summary.productCode);
                document.insert(QStringLiteral("monitorName"), summary.monitorName);
                document.insert(QStringLiteral("preferredTiming"), summary.preferredTiming);
            }
            if (verdict != EdidCheck::Ok)
                document.insert(
                    QStringLiteral("reason"), edidCheckReason(verdict, fileSize(path, file.bytes)));
            printJson(ctx, document);
            return verdict == EdidCheck::Ok ? ExitOk : ExitFailed;
        }
        ctx.out << edidSummaryLine(summary) << '\n';
        if (verdict == EdidCheck::Ok) {
            ctx.out << "accepted\n";
            return ExitOk;
        }
        ctx.out << "refused: " << edidCheckReason(verdict, fileSize(path, file.bytes)) << '\n';
        return ExitFailed;
    };
}

CtlJob modes(const QStringList &args)
{
    if (!args.isEmpty())
        throw UsageError{QStringLiteral("edid modes takes no arguments")};
    return [](CtlContext &ctx) {
        const QStringList list = edidModeList();
        QJsonArray modes;
        for (int i = 1; i < list.size(); ++i) {
            if (ctx.json)
                modes.append(QJsonObject{{SwitcherJson::Number, i}, {SwitcherJson::Name, list[i]}});
            else
                ctx.out << QString::number(i).rightJustified(2) << "  " << list[i] << '\n';
        }
        if (ctx.json)
            printJson(ctx, {{QStringLiteral("modes"), modes}});
        return ExitOk;
    };
}

CtlJob edid(const QStringList &args)
{
    const QString what = args.value(0);
    const QStringList rest = args.mid(1);
    if (what == QLatin1String("read"))
        return read(rest);
    if (what == QLatin1String("download"))
        return download(rest);
    if (what == QLatin1String("mode"))
        return mode(rest);
    if (what == QLatin1String("copy"))
        return copy(rest);
    if (what == QLatin1String("check"))
        return check(rest);
    if (what == QLatin1String("modes"))
        return modes(rest);
    throw UsageError{QStringLiteral("edid takes read, download, mode, copy, check or modes")};
}

} // namespace

void addEdidCommands(CtlCommandTable &table)
{
    table.append({QStringLiteral("edid"),
        QStringLiteral(
            "edid read OUT [-o FILE]       read output OUT's display EDID into FILE, or show it\n"
            "edid download TARGET FILE     download an EDID file to input 1-6, all, user1 or "
            "user2\n"
            "edid mode MODE TARGET         set an EDID mode on input 1-6 or all\n"
            "edid copy OUT TARGET          copy output OUT's display EDID to input 1-6 or all\n"
            "edid check FILE               decode an EDID file, say whether it is accepted;\n"
            "                              exit status 1 when it is refused\n"
            "edid modes                    the EDID modes, by number and name"),
        edid});
}
