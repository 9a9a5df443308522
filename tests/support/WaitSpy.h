#pragma once
// For widget tests: watches every wait window of the program, the texts workers put on it and its
// shows, and the shows of any other dialog (a message box would be one).
#include "platform/Messages.h"
#include "viewer/ufWaitForm.h"

#include <QApplication>
#include <QDialog>
#include <QStringList>

namespace support {

class WaitSpy : public QObject
{
public:
    WaitSpy() { qApp->installEventFilter(this); }
    ~WaitSpy() override { qApp->removeEventFilter(this); }
    QStringList Texts;      // as each WM_WAITFORM_UPDATE reaches the window
    QStringList ShownTexts; // the text of the wait window as it is shown
    int WaitShows = 0;
    int OtherDialogShows = 0;

protected:
    bool eventFilter(QObject *Watched, QEvent *e) override
    {
        // Sees the workers' messages too; From() is how a receiver takes them over.
        if (TMessageEvent *msg = TMessageEvent::From(e)) {
            auto *wait = qobject_cast<TWaitForm *>(Watched);
            // The worker posts one update with each text and then waits for a second one.
            if (wait && msg->Msg == WM_WAITFORM_UPDATE &&
                (Texts.isEmpty() || Texts.constLast() != wait->MessageText()))
                Texts << wait->MessageText();
        } else if (e->type() == QEvent::Show && qobject_cast<TWaitForm *>(Watched)) {
            ++WaitShows;
            ShownTexts << static_cast<TWaitForm *>(Watched)->MessageText();
        } else if (e->type() == QEvent::Show && qobject_cast<QDialog *>(Watched))
            ++OtherDialogShows;
        return false;
    }
};

} // namespace support
