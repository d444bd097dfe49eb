#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QAbstractButton;
class QWidget;
class TForm1;

// Walks the window as a newcomer does in demo mode: "Connect", "Device status" and a read of
// Out1's EDID, then every page and every dialog, each opened the
// way the operator opens it. At each stop the visitor gets a name and the window on show.
// The screenshots of the window and its legibility tests share this walk.
class WindowTour final
{
public:
    // name: "01-General", "20-Pre-Settings editor", ...; window: the main window with that page
    // current, or the dialog on show.
    using Visitor = std::function<void(const QString &name, QWidget *window)>;

    WindowTour(TForm1 &form, Visitor visitor);

    // Connects, reads the device status and reads Out1's EDID into the hex view. False, with the
    // reasons in errors(), when one of them did not succeed.
    bool prepare();
    // Every page, then the tag pop-up and every dialog. The dialogs are closed unchanged.
    void run();
    // What went wrong on the way: a step that failed, a dialog that did not open.
    QStringList errors() const { return m_errors; }

private:
    struct Moment
    {
        QString name;
        // True when the dialog shows what is to be seen.
        std::function<bool(QWidget *)> ready;
        // The stop is the main window with the dialog over it, not the dialog alone.
        bool overWindow = false;
    };
    // Clicks button and, while the dialog it opens is up, visits it at each moment in turn,
    // then closes it: unchanged, or with the dialog's button closeWith when given.
    void visitDialog(
        const char *button, const QList<Moment> &moments, const char *closeWith = nullptr);
    // The configuration dialog, sent as it stands: its spinning wait in the status bar.
    void visitConfiguration();
    void visitPopup();
    void showPage(const char *page);
    void click(const char *button);
    // Lets queued work (the routes read when the Setting page shows) finish.
    void settle();
    QWidget *widget(const char *name) const;

    TForm1 &m_form;
    Visitor m_visit;
    QStringList m_errors;
};

// Walks the window (prepare, then run) and saves each stop as DIR/name.png, with the windows
// that stand over it (a message box, the tag pop-up) drawn where they are. Returns the
// program's exit code: 0 when every step succeeded and every picture was written.
int saveWindowPictures(TForm1 &form, const QString &folder);
