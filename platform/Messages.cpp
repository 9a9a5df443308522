#include "platform/Messages.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

QEvent::Type TMessageEvent::EventType()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

TMessageEvent *TMessageEvent::From(QEvent *e)
{
    return e && e->type() == EventType() ? static_cast<TMessageEvent *>(e) : nullptr;
}

bool PostMessage(HWND target, unsigned msg, WPARAM wParam, LPARAM lParam)
{
    if (!target)
        return false;
    // Same priority for every message keeps the posting order.
    QCoreApplication::postEvent(target, new TMessageEvent(msg, wParam, lParam), Qt::NormalEventPriority);
    return true;
}

LRESULT SendMessage(HWND target, unsigned msg, WPARAM wParam, LPARAM lParam)
{
    if (!target)
        return 0;
    TMessageEvent ev(msg, wParam, lParam);
    if (target->thread() == QThread::currentThread()) {
        QCoreApplication::sendEvent(target, &ev);
    } else {
        QMetaObject::invokeMethod(
            target, [target, &ev] { QCoreApplication::sendEvent(target, &ev); }, Qt::BlockingQueuedConnection);
    }
    return ev.Result;
}
