// The matrix-sim program as a user starts it: options, the lines it prints, clean shutdown.

#include "CommandPacket.h"

#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

namespace {

QByteArray request(quint8 command, quint8 subcommand, quint16 word1 = 0)
{
    return CommandPacket::make(command, subcommand, word1).toByteArray();
}

QByteArray readReply(QTcpSocket &socket)
{
    QByteArray bytes;
    for (int i = 0; i < 50 && bytes.size() < CommandPacket::Size; ++i) {
        if (socket.bytesAvailable() == 0)
            socket.waitForReadyRead(100);
        bytes += socket.read(CommandPacket::Size - bytes.size());
    }
    return bytes;
}

} // namespace

class tst_MatrixSim : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void servesAndStopsCleanly();
    void rejectsBadOptions_data();
    void rejectsBadOptions();
    void withoutPseudoTerminals_data();
    void withoutPseudoTerminals();
};

void tst_MatrixSim::servesAndStopsCleanly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("ttySIM"));

    QProcess sim;
    sim.start(QStringLiteral(MATRIX_SIM_PATH),
        {QStringLiteral("--tcp-port"), QStringLiteral("0"), QStringLiteral("--pty-link"), link,
            QStringLiteral("--refuse"), QStringLiteral("1")});
    QVERIFY(sim.waitForStarted());

    QByteArray tcpLine, ptyLine;
    while (ptyLine.isEmpty() && sim.waitForReadyRead(5000)) {
        while (sim.canReadLine()) {
            const QByteArray line = sim.readLine().trimmed();
            (line.startsWith("TCP ") ? tcpLine : ptyLine) = line;
        }
    }
    QVERIFY2(tcpLine.startsWith("TCP 127.0.0.1:"), tcpLine.constData());
    QVERIFY2(ptyLine.startsWith("PTY /dev/pts/"), ptyLine.constData());
    QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromUtf8(ptyLine.mid(4)));

    const quint16 port = tcpLine.mid(tcpLine.lastIndexOf(':') + 1).toUShort();
    QVERIFY(port != 0);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(3000));
    socket.write(request(0x01, 0x01, 0x00FE));
    const QByteArray refused = readReply(socket);
    QCOMPARE(refused.size(), CommandPacket::Size);
    QCOMPARE(quint8(refused[4]), 0xFF); // --refuse 1
    socket.write(request(0x01, 0x01, 0x00FE));
    QCOMPARE(readReply(socket).toHex(' '), QByteArray("a5 5b 01 01 02 00 00 00 00 00 00 00 fc"));

    sim.terminate(); // SIGTERM
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_MatrixSim::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("split 0") << QStringList{QStringLiteral("--split"), QStringLiteral("0")};
    QTest::newRow("port too big") << QStringList{
        QStringLiteral("--tcp-port"), QStringLiteral("70000")};
    QTest::newRow("delay not a number")
        << QStringList{QStringLiteral("--delay"), QStringLiteral("soon")};
    QTest::newRow("listen on a name")
        << QStringList{QStringLiteral("--listen"), QStringLiteral("localhost")};
    QTest::newRow("missing EDID folder")
        << QStringList{QStringLiteral("--edid-dir"), QStringLiteral("/nonexistent/edid")};
}

void tst_MatrixSim::rejectsBadOptions()
{
    QFETCH(QStringList, arguments);
    QProcess sim;
    sim.start(QStringLiteral(MATRIX_SIM_PATH),
        QStringList{QStringLiteral("--tcp-port"), QStringLiteral("0")} + arguments);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QVERIFY(sim.exitCode() != 0);
    QVERIFY(!sim.readAllStandardError().isEmpty());
    QVERIFY(!sim.readAllStandardOutput().contains("TCP "));
}

void tst_MatrixSim::withoutPseudoTerminals_data()
{
    QTest::addColumn<int>("stopSignal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT (Ctrl+C)") << int(SIGINT);
}

// The simulator where the system has no pseudo terminals: TCP alone, a clear refusal of --pty,
// and a clean stop through the standard C signals.
void tst_MatrixSim::withoutPseudoTerminals()
{
#ifndef MATRIX_SIM_PORTABLE_PATH
    QSKIP("the portable simulator is built on Linux only");
#else
    QFETCH(int, stopSignal);
    QProcess refused;
    refused.start(QStringLiteral(MATRIX_SIM_PORTABLE_PATH),
        {QStringLiteral("--tcp-port"), QStringLiteral("0"), QStringLiteral("--pty")});
    QVERIFY(refused.waitForFinished(5000));
    QCOMPARE(refused.exitCode(), 1);
    QCOMPARE(refused.readAllStandardError(),
        QByteArray("matrix-sim: cannot open a pty: this system has no pseudo terminals\n"));

    QProcess sim;
    sim.start(QStringLiteral(MATRIX_SIM_PORTABLE_PATH),
        {QStringLiteral("--tcp-port"), QStringLiteral("0")});
    QVERIFY(sim.waitForStarted());
    QVERIFY(sim.waitForReadyRead(5000));
    const QByteArray tcpLine = sim.readLine().trimmed();
    QVERIFY2(tcpLine.startsWith("TCP 127.0.0.1:"), tcpLine.constData());
    QTcpSocket socket;
    socket.connectToHost(
        QHostAddress::LocalHost, tcpLine.mid(tcpLine.lastIndexOf(':') + 1).toUShort());
    QVERIFY(socket.waitForConnected(3000));
    socket.write(request(0x01, 0x01, 0x00FE));
    QCOMPARE(readReply(socket).toHex(' '), QByteArray("a5 5b 01 01 02 00 00 00 00 00 00 00 fc"));

    QCOMPARE(::kill(static_cast<pid_t>(sim.processId()), stopSignal), 0);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
#endif
}

QTEST_GUILESS_MAIN(tst_MatrixSim)
#include "tst_matrixsim.moc"
