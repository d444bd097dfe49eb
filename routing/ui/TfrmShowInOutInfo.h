#pragma once

#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui {
class TfrmShowInOutInfo;
}
class QLabel;

// The tag pop-up of the routing panel: no border, above other windows, sized to its lines and
// closed by a click anywhere on it.
class TfrmShowInOutInfo final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmShowInOutInfo)
public:
    explicit TfrmShowInOutInfo(QWidget *parent = nullptr);
    ~TfrmShowInOutInfo() override;

    QLabel *lblInfo() const;
    // Shows the lines in the label and fits the window to them.
    void setLines(const QStringList &lines);
    // Shows the pop-up near the pointer (a global position), inside the available area of the
    // screen its window is on.
    void showNear(const QPoint &pointer);
    // Where a pop-up of this size goes: 28 pixels below the pointer, or left of it or above it
    // where the area ends, and never outside the area.
    static QPoint placement(const QPoint &pointer, const QSize &size, const QRect &area);

public Q_SLOTS:
    void lblInfoClick();
    void Panel1Click();
    void FormClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    std::unique_ptr<Ui::TfrmShowInOutInfo> ui;
};
