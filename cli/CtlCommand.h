#pragma once

#include "CommandPacket.h"
#include "Switcher.h"
#include "SwitcherSession.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QJsonObject;
class QTextStream;
class TKVCOMControl;
struct AppSettings;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// Thrown while a command checks its arguments, and when a command needs the switcher but no
// --tcp/--serial was given. Caught by the tool, which prints the usage.
struct UsageError
{
    QString message;
};

// The switcher as one command sees it: connects before each operation unless connected, and
// reports every failure on stderr in the link's own words.
class CtlSession final : public Switcher
{
    Q_DISABLE_COPY_MOVE(CtlSession)
public:
    CtlSession(TKVCOMControl &link, bool hasTarget, QTextStream &err);

    TKVCOMControl &link() { return m_link; }
    // Connects unless connected; false (reason on stderr) when that fails.
    bool connect();
    // One named operation; on failure its reason goes to stderr.
    SwitcherOutcome run(const SwitcherOperation &operation) override;
    // One request by its codes (raw packets, the EDID commands); on failure the link's reason
    // goes to stderr.
    bool execute(quint8 command, quint8 subcommand, quint16 word1, quint16 word2 = 0,
        quint16 word3 = 0, quint16 word4 = 0, CommandResult *out = nullptr);
    // Prints the last failure the link reported (or a generic one), for the operations that
    // use the link itself (block transfers, module exchanges).
    void reportFailure();
    // Clears the remembered failure before an operation of the caller's own.
    void clearFailure() { m_failure.clear(); }
    // The last failure as the gateway's HTTP API names its errors ("refused", "not_present"),
    // or an empty text when the switcher and the link have not failed.
    QString errorCode() const { return m_errorCode; }
    // For failures the command finds itself (a module that does not answer).
    void setErrorCode(const QString &code) { m_errorCode = code; }

private:
    // Connects, then runs; the failure is reported.
    SwitcherOutcome runConnected(const SwitcherOperation &operation);
    void report(const SwitcherOutcome &outcome);

    TKVCOMControl &m_link;
    SwitcherSession m_session;
    bool m_hasTarget;
    QTextStream &m_err;
    QString m_failure;
    QString m_errorCode;
};

// What a running command may use.
struct CtlContext
{
    CtlSession &device;
    QTextStream &out;
    QTextStream &err;
    // The window's Settings.ini (where SettingsLocation puts it, unless --settings says otherwise).
    QString settingsPath;
    // --settings named it: then it must exist and be read completely.
    bool settingsNamed = false;
    // --json: a command prints its facts as one JSON document instead.
    bool json = false;
    // A document went to stdout (a failure's document is then not added).
    bool printed = false;
};

// The document of --json, compact on one line, for scripts to parse.
void printJson(CtlContext &ctx, const QJsonObject &document);
// With --json, what a failure prints on stdout beside the text on stderr, with the error codes
// of the gateway's HTTP API: {"error": "refused", "message": "Send data failed!"}.
QJsonObject errorJson(const QString &error, const QString &message);

// Reads the settings file for a command that needs what it holds. A named file that is missing,
// not a file or not read completely is an error (false, reason on stderr); the default file may
// be absent, which is said on stderr before the defaults are used.
bool readCtlSettings(CtlContext &ctx, AppSettings &settings);

// A command checks its arguments (throwing UsageError) and returns the work to run, so that
// nothing goes on the wire for a malformed command line.
using CtlJob = std::function<int(CtlContext &)>;
using CtlParser = std::function<CtlJob(const QStringList &args)>;

struct CtlCommand
{
    QString name;
    QString usage; // lines for the help text, "name args   what it does"
    CtlParser parse;
};
using CtlCommandTable = QList<CtlCommand>;

// Argument helpers. Words are decimal or 0x-hex; bytes are hex with or without 0x.
std::optional<quint16> parseWord(const QString &text, bool hex = false);
std::optional<quint8> parseByte(const QString &text);
// A port number 1..6, the ports the window offers.
std::optional<int> parsePort(const QString &text);
// A port argument of a command: its number, else a UsageError "NAME must be 1..6".
int portArgument(const QString &text, const char *name);
QString hexBytes(const CommandPacket &packet);

// Command groups, one file each.
void addDeviceCommands(CtlCommandTable &table);
void addNetworkCommands(CtlCommandTable &table);
void addEdidCommands(CtlCommandTable &table);
void addFirmwareCommands(CtlCommandTable &table);
void addPresetCommands(CtlCommandTable &table);
