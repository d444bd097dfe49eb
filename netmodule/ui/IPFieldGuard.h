#pragma once

#include <QObject>

class QLineEdit;

// An address part field of the network dialogs: keys other than digits and backspace are
// discarded, and on leaving the field its text goes through ClampIPField.
class IPFieldGuard final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IPFieldGuard)
public:
    // Guards field; the guard lives as long as the field.
    static void guard(QLineEdit *field);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using QObject::QObject;
};
