#pragma once

// The main window in a fresh program folder, against the simulated switcher over loopback TCP.
#include "DialogDriver.h"
#include "SettingsFile.h"
#include "SimulatorServer.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using testsupport::BoxAnswer;
using testsupport::ModalAnswer;

class WindowFixture
{
public:
    // settingsIni: the Settings.ini the program folder holds before the window starts.
    explicit WindowFixture(const QByteArray &settingsIni = {})
    {
        if (!settingsIni.isEmpty()) {
            QFile file(settingsPath());
            if (file.open(QIODevice::WriteOnly))
                file.write(settingsIni);
        }
        m_sim.listenTcp();
        m_form = std::make_unique<TForm1>(ShellOptions{m_dir.path(), {}});
        m_form->link()->setTiming(Timing::fast());
        m_form->show();
        QTRY_VERIFY(m_form->pagesBuilt());
        m_form->link()->setDeviceIP(QStringLiteral("127.0.0.1"));
        m_form->link()->setTcpPort(m_sim.tcpPort());
        m_form->state().PowerOn = true;
    }
    QString settingsPath() const { return m_dir.filePath(QStringLiteral("Settings.ini")); }
    QByteArray settingsText() const
    {
        QFile file(settingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    TForm1 &form() { return *m_form; }
    SimulatorServer &sim() { return m_sim; }
    template<typename T = QWidget>
    T *widget(const QString &name) const
    {
        return m_form->findChild<T *>(name);
    }
    // Closes the window, which writes Settings.ini.
    void close() { m_form->close(); }

private:
    QTemporaryDir m_dir;
    SimulatorServer m_sim;
    std::unique_ptr<TForm1> m_form;
};
