#include "WindowTour.h"

#include "DeviceProtocol.h"
#include "RoutingPanel.h"
#include "StatusBar.h"
#include "TForm1.h"
#include "TKVCOMControl.h"
#include "TfrmEnterYes.h"
#include "TfrmSearch.h"
#include "TfrmShowInOutInfo.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>

namespace {

// How long a dialog may take to reach what is to be seen (a search runs several rounds).
constexpr int DialogWaitMs = 20000;
constexpr int SettleMs = 10000;

const char *const PageNames[]
    = {"tsGeneral", "tsPortTag", "tsSetting", "tsEDIDCtrl", "tsIR", "tsFWUpgrade"};

// Tags as an operator might give them, so that the note line, the pop-up and the lists show
// tagged texts.
const QStringList InputTags
    = {QStringLiteral("Blu-ray"), QStringLiteral("Laptop"), QStringLiteral("Camera"),
        QStringLiteral("Set-top box"), QStringLiteral("Console"), QStringLiteral("Media player")};
const QStringList OutputTags
    = {QStringLiteral("Projector"), QStringLiteral("Monitor"), QStringLiteral("Stage left"),
        QStringLiteral("Stage right"), QStringLiteral("Lobby"), QStringLiteral("Recorder")};

} // namespace

WindowTour::WindowTour(TForm1 &form, Visitor visitor)
    : m_form(form), m_visit(std::move(visitor)) { }

QWidget *WindowTour::widget(const char *name) const
{
    return m_form.findChild<QWidget *>(QLatin1String(name));
}

void WindowTour::click(const char *button)
{
    auto *b = qobject_cast<QAbstractButton *>(widget(button));
    if (!b) {
        m_errors.append(QStringLiteral("no button ") + QLatin1String(button));
        return;
    }
    // The operation runs to its end inside the click, as it does for the operator.
    b->click();
    settle();
}

void WindowTour::settle()
{
    const QDeadlineTimer deadline(SettleMs);
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    } while (!(m_form.state().RunnerIdle && m_form.link() && !m_form.link()->connecting())
        && !deadline.hasExpired());
    QApplication::processEvents();
}

void WindowTour::showPage(const char *page)
{
    auto *pages = m_form.findChild<QTabWidget *>(QStringLiteral("pcContainer"));
    if (QWidget *w = widget(page); pages && w)
        pages->setCurrentWidget(w);
    settle();
}

bool WindowTour::prepare()
{
    m_form.ensurePagesBuilt();
    settle();
    TKVCOMControl *link = m_form.link();
    if (!link)
        return false;
    click("btnConnect");
    if (!link->Connected())
        m_errors.append(QStringLiteral("Connect: ") + m_form.status().text(2));
    click("btnGetDevStatus");
    if (!m_form.state().PowerOn)
        m_errors.append(QStringLiteral("Device status: ") + m_form.status().text(2));

    showPage("tsEDIDCtrl");
    if (auto *outputs = m_form.findChild<QComboBox *>(QStringLiteral("cbReadEDIDDataOutput")))
        outputs->setCurrentIndex(outputs->findText(QStringLiteral("Out1")));
    click("btnReadEDIDData");
    const auto *grid = m_form.findChild<QAbstractItemView *>(QStringLiteral("sgEDIDContent"));
    if (!grid || grid->model()->index(1, 1).data().toString().isEmpty())
        m_errors.append(QStringLiteral("EDID read: ") + m_form.status().text(2));
    showPage("tsGeneral");
    return m_errors.isEmpty();
}

void WindowTour::run()
{
    int number = 1;
    for (const char *page : PageNames) {
        showPage(page);
        const auto *pages = m_form.findChild<QTabWidget *>(QStringLiteral("pcContainer"));
        m_visit(QStringLiteral("%1-%2")
                    .arg(number++, 2, 10, QLatin1Char('0'))
                    .arg(pages->tabText(pages->currentIndex())),
            &m_form);
    }

    showPage("tsSetting");
    visitPopup();
    // The preset list with a row selected, as Edit and Set need it.
    if (auto *presets = m_form.findChild<QTreeWidget *>(QStringLiteral("lvPreSetting"));
        presets && presets->topLevelItemCount() > 0) {
        presets->setCurrentItem(presets->topLevelItem(presets->topLevelItemCount() - 1));
        m_visit(QStringLiteral("08-Preset selected"), &m_form);
        presets->setCurrentItem(presets->topLevelItem(0));
    } else {
        m_errors.append(QStringLiteral("no presets"));
    }
    visitDialog("btnPreEdit", {{QStringLiteral("21-Pre-Settings editor"), {}}});
    showPage("tsPortTag");
    visitDialog("btnEditInputPortTag", {{QStringLiteral("22-Input tags editor"), {}}});
    visitDialog("btnEditOutputPortTag", {{QStringLiteral("23-Output tags editor"), {}}});
    // The TCP module is reset over the serial port, which demo mode does not have: the
    // confirmation is opened on its own.
    if (auto *confirm = m_form.findChild<TfrmEnterYes *>()) {
        confirm->open();
        QApplication::processEvents();
        m_visit(QStringLiteral("24-Reset confirmation"), confirm);
        confirm->reject();
    } else {
        m_errors.append(QStringLiteral("no reset confirmation"));
    }
    showPage("tsGeneral");
    const auto step = [](int n) {
        return [n](QWidget *w) {
            const auto *search = qobject_cast<TfrmSearch *>(w);
            return search && search->searchStep() == n;
        };
    };
    visitDialog("btnSearchDevice",
        {{QStringLiteral("25-Search running"), step(1)},
            {QStringLiteral("26-Search found"), step(2)}});
    // Last: the configuration dialog disconnects the link.
    visitConfiguration();
    // What the dialogs leave in the status bar.
    showPage("tsGeneral");
    m_visit(QStringLiteral("29-General afterwards"), &m_form);
}

void WindowTour::visitConfiguration()
{
    // The demo module takes its own settings back; the wait for its answer spins for about
    // three seconds.
    bool spun = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const TKVCOMControl *link = m_form.link();
        if (link && link->Configuring() && m_form.status().spinning()) {
            poll.stop();
            spun = true;
            m_visit(QStringLiteral("28-Configuring"), &m_form);
        }
    });
    poll.start();
    visitDialog("btnConfig", {{QStringLiteral("27-TCP configuration"), {}}}, "btnOK");
    poll.stop();
    if (!spun)
        m_errors.append(QStringLiteral("28-Configuring: not seen"));
}

void WindowTour::visitPopup()
{
    // The pop-up shows the tags of the port under the pointer when display tags are on. The
    // tags go into the read-only tag fields only, where the routing panel looks them up; the
    // settings are not touched and everything is put back afterwards.
    auto *displayTags = m_form.findChild<QCheckBox *>(QStringLiteral("cbDisplayTag"));
    auto *button = qobject_cast<QAbstractButton *>(widget("sbSetInput"));
    if (!displayTags || !button) {
        m_errors.append(QStringLiteral("no pop-up"));
        return;
    }
    QStringList before;
    const auto fields = [this](const QString &side) {
        QList<QLineEdit *> list;
        for (int n = 1; n <= DeviceProtocol::PortCount; ++n)
            list.append(
                m_form.findChild<QLineEdit *>(QStringLiteral("le%1%2Tag").arg(side).arg(n)));
        return list;
    };
    const QList<QLineEdit *> inputs = fields(QStringLiteral("Input"));
    const QList<QLineEdit *> outputs = fields(QStringLiteral("Output"));
    for (int n = 0; n < DeviceProtocol::PortCount; ++n) {
        before << inputs[n]->text() << outputs[n]->text();
        inputs[n]->setText(InputTags[n]);
        outputs[n]->setText(OutputTags[n]);
    }
    const bool wasOn = displayTags->isChecked();
    {
        const QSignalBlocker blocker(displayTags);
        displayTags->setChecked(true);
    }
    QWidget *popup = m_form.routingPanel().frmShowInOutInfo();
    const auto hover = [popup](QAbstractButton *button) {
        const QPoint at = button->rect().center();
        QMouseEvent move(QEvent::MouseMove, at, button->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
            Qt::NoModifier);
        QApplication::sendEvent(button, &move);
        QApplication::processEvents();
        return popup && popup->isVisible();
    };
    if (hover(button)) {
        m_visit(QStringLiteral("20-Tag pop-up"), popup);
        popup->close();
        m_visit(QStringLiteral("07-Setting with tags"), &m_form);
    } else {
        m_errors.append(QStringLiteral("the tag pop-up did not show"));
    }
    // A question that comes while the pop-up is up: the hovered input is clicked while the
    // switcher is off. Output3's pop-up would cover the middle of the window, where the
    // question shows. The route goes back, and so does the power state.
    QAbstractButton *middle = m_form.routingPanel().FindInputButton(3, 3);
    if (middle && hover(middle)) {
        ShellState &state = m_form.state();
        const bool powerOn = state.PowerOn;
        state.PowerOn = false;
        visitDialog(qPrintable(middle->objectName()),
            {{QStringLiteral("09-Tag pop-up and power message"), {}, true}});
        state.PowerOn = powerOn;
    } else {
        m_errors.append(QStringLiteral("the tag pop-up did not show again"));
    }
    {
        const QSignalBlocker blocker(displayTags);
        displayTags->setChecked(wasOn);
    }
    for (int n = 0; n < 6; ++n) {
        inputs[n]->setText(before[2 * n]);
        outputs[n]->setText(before[2 * n + 1]);
    }
}

void WindowTour::visitDialog(
    const char *button, const QList<Moment> &moments, const char *closeWith)
{
    qsizetype next = 0;
    QDeadlineTimer deadline(DialogWaitMs);
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        while (next < moments.size() && (!moments[next].ready || moments[next].ready(dialog))) {
            m_visit(moments[next].name,
                moments[next].overWindow ? static_cast<QWidget *>(&m_form) : dialog);
            ++next;
            deadline.setRemainingTime(DialogWaitMs);
        }
        if (next == moments.size() || deadline.hasExpired()) {
            poll.stop();
            auto *close = closeWith && next == moments.size()
                ? dialog->findChild<QAbstractButton *>(QLatin1String(closeWith))
                : nullptr;
            if (close)
                close->click();
            else
                dialog->reject();
        }
    });
    poll.start();
    click(button);
    poll.stop();
    if (next < moments.size())
        m_errors.append(moments[next].name + QStringLiteral(": not seen"));
}

namespace {

// The window as the operator sees it: the windows that stand over it (its message boxes and
// dialogs, then the tag pop-up, which stays on top of them) are drawn where they are.
QImage picture(QWidget *window)
{
    QList<QWidget *> over;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (w != window && w->isVisible() && w->parentWidget()
            && w->parentWidget()->window() == window)
            over.append(w);
    }
    std::stable_partition(over.begin(), over.end(),
        [](const QWidget *w) { return !(w->windowFlags() & Qt::WindowStaysOnTopHint); });
    QPixmap shot = window->grab();
    QPainter painter(&shot);
    const QPoint origin = window->mapToGlobal(QPoint());
    for (QWidget *w : std::as_const(over)) {
        // Offscreen windows have no frames: an outline shows where each one ends.
        const QRect place(w->mapToGlobal(QPoint()) - origin, w->size());
        painter.drawPixmap(place.topLeft(), w->grab());
        painter.setPen(Qt::darkGray);
        painter.drawRect(place.adjusted(0, 0, -1, -1));
    }
    painter.end();
    return shot.toImage();
}

} // namespace

int saveWindowPictures(TForm1 &form, const QString &folder)
{
    QStringList failed;
    if (!QDir().mkpath(folder))
        failed.append(QStringLiteral("cannot make ") + folder);
    WindowTour tour(form, [&](const QString &name, QWidget *window) {
        // "04-EDID control" is saved as 04-edid-control.png.
        QString file = name.toLower();
        file.replace(QLatin1Char(' '), QLatin1Char('-'));
        const QString path = QDir(folder).filePath(file + QStringLiteral(".png"));
        // A window's few colours fit a palette, which keeps the files small.
        const QImage image = picture(window).convertToFormat(
            QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
        if (image.save(path))
            std::printf("%s\n", qPrintable(path));
        else
            failed.append(QStringLiteral("cannot write ") + path);
    });
    tour.prepare();
    tour.run();
    failed += tour.errors();
    for (const QString &reason : std::as_const(failed))
        std::fprintf(stderr, "screenshots: %s\n", qPrintable(reason));
    std::fflush(stdout);
    return failed.isEmpty() ? 0 : 1;
}
