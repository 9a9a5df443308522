#pragma once
// For widget tests: watches every wait window of the program, the texts workers put on it, its modal
// shows with the text each began with, the times it came on the screen, and the shows of any other
// dialog (a message box would be one).
#include "platform/Messages.h"
#include "viewer/ufWaitForm.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QStringList>

namespace support {

class WaitSpy : public QObject
{
public:
    WaitSpy() { qApp->installEventFilter(this); }
    ~WaitSpy() override { qApp->removeEventFilter(this); }
    QStringList Texts;      // as each WM_WAITFORM_UPDATE reaches the window
    QStringList ShownTexts; // the label's text as each modal show began
    // Modal shows, counted as the work's close message ends them: a short work's show never puts the
    // window on the screen.
    int WaitShows = 0;
    int WaitOnScreen = 0;
    int OtherDialogShows = 0;

protected:
    bool eventFilter(QObject *Watched, QEvent *e) override
    {
        // Sees the workers' messages too; From() is how a receiver takes them over.
        if (TMessageEvent *msg = TMessageEvent::From(e)) {
            auto *wait = qobject_cast<TWaitForm *>(Watched);
            // Every work ends its show with a message, so the first one of a show finds its text.
            if (wait && wait->InModalShow() && !FInShow) {
                FInShow = true;
                ShownTexts << wait->StateLabel->text();
            }
            // The worker posts one update with each text and then waits for a second one.
            if (wait && msg->Msg == WM_WAITFORM_UPDATE &&
                (Texts.isEmpty() || Texts.constLast() != wait->MessageText()))
                Texts << wait->MessageText();
            if (wait && msg->Msg == WM_WAITFORM_CLOSE && wait->InModalShow()) {
                ++WaitShows;
                FInShow = false;
            }
        } else if (e->type() == QEvent::Show && qobject_cast<TWaitForm *>(Watched))
            ++WaitOnScreen;
        else if (e->type() == QEvent::Show && qobject_cast<QDialog *>(Watched))
            ++OtherDialogShows;
        return false;
    }

private:
    bool FInShow = false;
};

} // namespace support
