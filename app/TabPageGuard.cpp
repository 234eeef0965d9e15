#include "app/TabPageGuard.h"

#include <QKeyEvent>

bool TabPageGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        return true;
    return QObject::eventFilter(watched, event);
}
