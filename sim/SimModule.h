#pragma once

#include "ModuleFrame.h"
#include "NetDatagrams.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

// The settings of one simulated network module.
struct SimModuleState
{
    static constexpr IPv4Bytes FactoryGateway{192, 168, 0, 1};
    static constexpr IPv4Bytes FactoryMask{255, 255, 255, 0};

    MacAddress mac{0x02, 0x4D, 0x58, 0x00, 0x00, 0x01}; // locally administered
    IPv4Bytes ip{192, 168, 0, 100};
    IPv4Bytes gateway = FactoryGateway;
    IPv4Bytes mask = FactoryMask;
    bool dhcp = false;
    QByteArray tag = QByteArrayLiteral("TCP Module");
    quint16 number1 = 8000; // carried in search replies; the controller keeps them as texts
    quint16 number2 = 1;
    quint8 versionMajor = 2;
    quint8 versionMinor = 1;

    SearchRecord searchRecord() const;
    // "02-4D-58-00-00-01 Static IP 192.168.0.100 192.168.0.1 255.255.255.0 [TCP Module]"
    QString describe() const;

    friend bool operator==(const SimModuleState &, const SimModuleState &) = default;
};

// The module's answer to one 32-byte frame: a query gives the version, DHCP flag and address;
// a reset (0xFF) sets the frame's DHCP flag and address, the factory gateway, mask and tag,
// then answers like a query. ReceiveOK is 0x00 in an answer and 0xFF for an unknown command.
// Empty (silence) when the header or the checksum is wrong.
QByteArray answerModuleFrame(SimModuleState &module, const QByteArray &frame);

// Takes the 32-byte module frames out of a device byte stream: a frame starts with the
// module header; everything else is passed on unchanged, in order, to the switcher's own
// session. A frame is answered through send().
class SimModuleStream final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimModuleStream)
public:
    using Answerer = std::function<QByteArray(const QByteArray &frame)>;

    explicit SimModuleStream(Answerer answer, QObject *parent = nullptr);

public Q_SLOTS:
    void receive(const QByteArray &bytes);
    // Forgets a partly received frame (the line hung up).
    void reset() { m_pending.clear(); }

Q_SIGNALS:
    void passOn(const QByteArray &bytes);
    void send(const QByteArray &bytes);

private:
    Answerer m_answer;
    QByteArray m_pending; // the start of a module frame
};
