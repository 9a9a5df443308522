#pragma once
// Window messages on Qt objects. A "window handle" is a pointer to the receiving QObject; a posted
// message is a TMessageEvent that the receiver's event() dispatches by number. Messages posted to
// objects of one thread arrive in the order posted.
#include <QEvent>
#include <QObject>
#include <cstdint>
#include <functional>

using HWND = QObject *;
using WPARAM = intptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr unsigned WM_USER = 0x400;

// To the wait window.
constexpr unsigned WM_WAITFORM_SHOW = WM_USER + 1;
constexpr unsigned WM_WAITFORM_CLOSE = WM_USER + 2;
constexpr unsigned WM_WAITFORM_UPDATE = WM_USER + 3;

// To the main window.
constexpr unsigned WM_LOAD_FINISHED = WM_USER + 2;
constexpr unsigned WM_SEARCH_FOUND_CHECKED = WM_USER + 4;
constexpr unsigned WM_SEARCH_FOUND_UNCHECKED = WM_USER + 5;
constexpr unsigned WM_SEARCH_NO_MORE = WM_USER + 6;
constexpr unsigned WM_DECOMPRESS_ERROR = WM_USER + 7;
constexpr unsigned WM_CREATE_FREEMEM_WAIT = WM_USER + 9;
constexpr unsigned WM_SHOW_WAIT_MODAL = WM_USER + 10;

class TMessageEvent : public QEvent
{
public:
    TMessageEvent(unsigned msg, WPARAM wParam, LPARAM lParam)
        : QEvent(EventType()), Msg(msg), WParam(wParam), LParam(lParam)
    {
    }
    static QEvent::Type EventType();
    // The message carried by e, or nullptr when e is no window message.
    static TMessageEvent *From(QEvent *e);

    const unsigned Msg;
    const WPARAM WParam;
    const LPARAM LParam;
    LRESULT Result = 0; // what a handler answers to SendMessage
};

// Queues the message for target's thread and returns at once. False when target is null.
bool PostMessage(HWND target, unsigned msg, WPARAM wParam = 0, LPARAM lParam = 0);

// Delivers the message and returns the handler's Result: a direct call on target's own thread, a
// blocking queued call from any other thread. 0 when target is null.
LRESULT SendMessage(HWND target, unsigned msg, WPARAM wParam = 0, LPARAM lParam = 0);

// Runs fn later on target's thread (queued), or not at all when target is gone by then.
// Use this, not a bare QMetaObject::invokeMethod, to hand work across threads: it also tells
// ThreadSanitizer about the hand-over, which happens inside Qt where the sanitizer cannot see it.
void PostCall(QObject *target, std::function<void()> fn);
// Runs fn on target's thread and waits for it (directly when already there).
void SendCall(QObject *target, const std::function<void()> &fn);
