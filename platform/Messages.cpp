#include "platform/Messages.h"

#include "platform/TsanAnnotations.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <condition_variable>
#include <map>
#include <mutex>

namespace {

// The address on which hand-overs through Qt's queues are marked for ThreadSanitizer.
[[maybe_unused]] char handOver;

// A call carried to another thread as an event of our own, so that everything handed over is
// allocated and written in code the sanitizer sees.
class TCallEvent : public QEvent
{
public:
    explicit TCallEvent(std::function<void()> fn) : QEvent(EventType()), Fn(std::move(fn)) {}
    static QEvent::Type EventType()
    {
        static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    std::function<void()> Fn;
};

// Runs the calls posted to its thread.
class TCallDispatcher : public QObject
{
protected:
    bool event(QEvent *e) override
    {
        TSAN_ACQUIRE(&handOver);
        if (e->type() == TCallEvent::EventType()) {
            static_cast<TCallEvent *>(e)->Fn();
            return true;
        }
        return QObject::event(e);
    }
};

// One dispatcher per thread that receives calls; they live as long as the program.
QObject *DispatcherFor(QThread *thread)
{
    static std::mutex *lock = new std::mutex;
    static auto *dispatchers = new std::map<QThread *, QPointer<QObject>>;
    std::lock_guard<std::mutex> guard(*lock);
    auto &slot = (*dispatchers)[thread];
    if (!slot) {
        auto *d = new TCallDispatcher;
        d->moveToThread(thread);
        slot = d;
        if (thread != QCoreApplication::instance()->thread())
            QObject::connect(thread, &QThread::finished, d, &QObject::deleteLater);
    }
    return slot.data();
}

void PostToThread(QThread *thread, std::function<void()> fn)
{
    auto *ev = new TCallEvent(std::move(fn));
    TSAN_RELEASE(&handOver);
    QCoreApplication::postEvent(DispatcherFor(thread), ev, Qt::NormalEventPriority);
}

} // namespace

QEvent::Type TMessageEvent::EventType()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

TMessageEvent *TMessageEvent::From(QEvent *e)
{
    TSAN_ACQUIRE(&handOver);
    return e && e->type() == EventType() ? static_cast<TMessageEvent *>(e) : nullptr;
}

bool PostMessage(HWND target, unsigned msg, WPARAM wParam, LPARAM lParam)
{
    if (!target)
        return false;
    auto *ev = new TMessageEvent(msg, wParam, lParam);
    TSAN_RELEASE(&handOver);
    // Same priority for every message keeps the posting order.
    QCoreApplication::postEvent(target, ev, Qt::NormalEventPriority);
    return true;
}

LRESULT SendMessage(HWND target, unsigned msg, WPARAM wParam, LPARAM lParam)
{
    if (!target)
        return 0;
    TMessageEvent ev(msg, wParam, lParam);
    SendCall(target, [target, &ev] { QCoreApplication::sendEvent(target, &ev); });
    return ev.Result;
}

void PostCall(QObject *target, std::function<void()> fn)
{
    if (!target)
        return;
    QPointer<QObject> guard(target);
    PostToThread(target->thread(), [guard, fn = std::move(fn)] {
        if (guard)
            fn();
    });
}

void SendCall(QObject *target, const std::function<void()> &fn)
{
    if (!target)
        return;
    if (target->thread() == QThread::currentThread()) {
        fn();
        return;
    }
    std::mutex lock;
    std::condition_variable signal;
    bool done = false;
    QPointer<QObject> guard(target);
    PostToThread(target->thread(), [&] {
        if (guard)
            fn();
        std::lock_guard<std::mutex> g(lock);
        done = true;
        signal.notify_all();
    });
    std::unique_lock<std::mutex> wait(lock);
    signal.wait(wait, [&done] { return done; });
}
