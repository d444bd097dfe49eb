#include "IPFieldGuard.h"

#include "DeviceEntry.h"

#include <QKeyEvent>
#include <QLineEdit>

void IPFieldGuard::guard(QLineEdit *field)
{
    field->installEventFilter(new IPFieldGuard(field));
}

bool IPFieldGuard::eventFilter(QObject *watched, QEvent *event)
{
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (!field)
        return false;
    if (event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent *>(event)->text();
        // Navigation and editing keys (Tab, arrows, backspace, Esc) carry no printable text
        // and pass; of the printable characters only digits do.
        for (const QChar c : text) {
            if (c.isPrint() && (c < u'0' || c > u'9'))
                return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        field->setText(ClampIPField(field->text()));
    }
    return false;
}
