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
