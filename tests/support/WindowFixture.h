#pragma once

// The real main window, offscreen, in a fresh program folder and against the simulated switcher
// (or in demo mode against the window's own), as the window and page suites start it.
#include "ConnectionControl.h"
#include "SimulatorServer.h"
#include "TForm1.h"
#include "TKVCOMControl.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace testsupport {

class WindowFixture final
{
public:
    struct Options
    {
        // The switcher listens on loopback TCP; the window's link is pointed at its port.
        bool tcp = true;
        // The address the link is given once the window has shown (the first showing selects
        // the saved device); empty leaves the window's own.
        QString deviceIp = QStringLiteral("127.0.0.1");
        // The switcher also opens a pseudo terminal, which the window's port list offers.
        bool pty = false;
        // Demo mode: the window starts its own simulated switcher, and no other is made.
        bool demo = false;
        // Settings.ini as the program folder holds it before the window starts; none when empty.
        QByteArray settingsIni;
        // Tests of time-outs: the link waits 500 ms for a reply (Timing::fast()). Otherwise it
        // waits as long as the program does, so that a busy machine cannot turn a slow reply
        // into a retry.
        bool shortTimeOuts = false;
        // The program's own timing throughout (ticks, pauses, deadlines), for success paths
        // whose waits the operator sees.
        bool realTiming = false;
        // The window takes the switcher as switched on, as a status read leaves it.
        bool powerOn = false;
        // Runs on the window after it is made, before it first shows.
        std::function<void(TForm1 &)> beforeShow;
    };

    WindowFixture() : WindowFixture(Options()) { }
    explicit WindowFixture(Options options) : m_options(std::move(options)) { }
    WindowFixture(const WindowFixture &) = delete;
    WindowFixture &operator=(const WindowFixture &) = delete;

    // Makes the switcher and opens the window; false, with why(), when a step failed.
    bool start()
    {
        if (!m_dir.isValid())
            return fail(QStringLiteral("no temporary program folder"));
        if (!m_options.settingsIni.isEmpty()) {
            QFile file(settingsPath());
            if (!file.open(QIODevice::WriteOnly)
                || file.write(m_options.settingsIni) != m_options.settingsIni.size())
                return fail(QStringLiteral("cannot write ") + settingsPath());
        }
        if (!m_options.demo && (m_options.tcp || m_options.pty)) {
            m_sim = std::make_unique<SimulatorServer>();
            if (m_options.tcp && !m_sim->listenTcp())
                return fail(QStringLiteral("the simulator does not listen on loopback TCP"));
            if (m_options.pty) {
                m_pty = m_sim->openPty();
                if (m_pty.isEmpty())
                    return fail(m_sim->ptyError());
            }
        }
        return openWindow();
    }
    // Closes the window (which writes Settings.ini) and opens a new one on the same folder and
    // switcher, as a restart of the program does.
    bool restart()
    {
        m_form.reset();
        return openWindow();
    }
    QString why() const { return m_why; }

    TForm1 &form() { return *m_form; }
    TKVCOMControl &link() { return *m_form->link(); }
    SimulatorServer &sim() { return *m_sim; }
    QString pty() const { return m_pty; }
    // A file in the program folder.
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path(); }
    QString settingsPath() const { return path(QStringLiteral("Settings.ini")); }
    QByteArray settingsText() const
    {
        QFile file(settingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // A control of the window by object name; null when there is none.
    template<typename T = QWidget>
    T *find(const QString &name) const
    {
        return m_form->findChild<T *>(name);
    }
    // A control the window must have: its absence ends the test program, as no check could
    // run on.
    template<typename T = QWidget>
    T *widget(const QString &name) const
    {
        T *w = find<T>(name);
        if (!w)
            qFatal("no widget %s", qPrintable(name));
        return w;
    }
    // Closes the window, which writes Settings.ini.
    void close() { m_form->close(); }
    // Deletes the window; the folder and the switcher stay.
    void destroyWindow() { m_form.reset(); }

private:
    bool fail(const QString &why)
    {
        m_why = why;
        return false;
    }
    bool openWindow()
    {
        ShellOptions shell;
        shell.programFolder = m_dir.path();
        if (!m_pty.isEmpty())
            shell.serialPorts = {m_pty};
        shell.demo = m_options.demo;
        m_form = std::make_unique<TForm1>(shell);
        if (m_options.realTiming)
            link().setTiming(Timing());
        else
            link().setTiming(m_options.shortTimeOuts ? Timing::fast() : Timing::realTimeOuts());
        if (m_options.beforeShow)
            m_options.beforeShow(*m_form);
        m_form->show();
        if (!QTest::qWaitForWindowExposed(m_form.get()))
            return fail(QStringLiteral("the window was not exposed"));
        if (!QTest::qWaitFor([this] { return m_form->pagesBuilt(); }))
            return fail(QStringLiteral("the window did not build its pages"));
        if (m_options.tcp && m_sim) {
            link().setTcpPort(m_sim->tcpPort());
            if (!m_options.deviceIp.isEmpty())
                link().setDeviceIP(m_options.deviceIp);
        }
        if (m_options.powerOn)
            m_form->state().PowerOn = true;
        if (!m_pty.isEmpty())
            m_form->connection().waitForComPortList();
        return true;
    }

    Options m_options;
    QString m_why;
    // Destroyed from the bottom: the window first, then the switcher, then the folder.
    QTemporaryDir m_dir;
    std::unique_ptr<SimulatorServer> m_sim;
    QString m_pty;
    std::unique_ptr<TForm1> m_form;
};

} // namespace testsupport
