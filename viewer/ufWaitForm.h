#pragma once
// The modal wait window: an animated picture and a one- to three-line text, shown by the main thread
// while a worker does long work. The worker ends the modal show by posting WM_WAITFORM_CLOSE.
//
// The protocol, for a starter on the main thread:
//   TWaitForm *w = ShowWaitForm(owner, text);   // hand-out: takes formIsBusyMutex, sets the text
//   worker->Resume();                            // the worker got w through its constructor
//   w->WMShowModal();                            // returns once the worker's close message arrived
//   w->Close();                                  // no effect on a closed window; ends the hand-out
// and for the worker: SetMessageText from its own thread as often as it likes, and as its very last
// act, also after an error, PostMessage(w, WM_WAITFORM_CLOSE).
#include <QDialog>
#include <QPointer>
#include <QString>
#include <memory>
#include <mutex>
#include <vector>

class QEventLoop;
class QFrame;
class QLabel;
class QMovie;
class TMutex;

class TWaitForm : public QDialog
{
    Q_OBJECT
public:
    // Creates the window hidden, centred on Owner when shown, with Text in its label. Its mutexes
    // wfMutex and formIsBusyMutex are unnamed: the wait window is one per process, and another running
    // copy of the program must never wait for this one's work. Main thread only.
    TWaitForm(QWidget *Owner, const QString &Text);
    // Gives back what the hand-outs still hold of formIsBusyMutex, then closes both mutexes.
    ~TWaitForm() override;

    // Makes Text the window's text. On the main thread the label shows it at once (UpdateStateLabel);
    // from a worker's thread the text is only stored, and a WM_WAITFORM_UPDATE posted to the window
    // lets the main thread put it into the label. Any thread.
    void SetMessageText(const QString &Text);
    // The text last set (any thread).
    QString MessageText() const;
    // On the main thread: puts MessageText into StateLabel and places the label by its carriage
    // returns (none: top 20, one: 15, two: 8, more: the top stays), holding wfMutex meanwhile; the
    // label breaks its lines where the text has a carriage return (U+000D). When wfMutex cannot be
    // had within 3000 ms the label keeps what it showed. From another thread it does nothing: widgets
    // belong to the main thread.
    void UpdateStateLabel();

    // The window's two mutexes, for tests that hold them from another thread.
    TMutex &TextMutex() const { return *wfMutex; }
    TMutex &BusyMutex() const { return *formIsBusyMutex; }

    // The answer to every close request: False until the first close message has been handled.
    bool CanClose() const { return FCanClose; }

    // One hand-out of the window for a work: waits up to 10000 ms for formIsBusyMutex (and goes on
    // without it after that), then SetMessageText(Text). ShowWaitForm calls it for the shared window.
    // Hand-outs nest: a starter may run another work (with its own hand-out, modal show and Close)
    // before its own worker starts; after that Close the outer hand-out waits for its own close
    // message again.
    void HandOut(const QString &Text);

    // The modal show; returns when the window closes. When the work of the current hand-out has
    // already ended (its close message was handled before the show), it returns at once without
    // showing the window. The modal loop starts at once and the program's other windows take no input
    // from then on, but the window itself comes on the screen only when the work has not ended within
    // a grace of 40 ms: a short work never flashes it, nor takes the focus from the main window.
    int WMShowModal();
    // True while WMShowModal's modal loop runs, also after the close message has hidden the window
    // and until the loop has returned. Main thread.
    bool InModalShow() const { return FModalDepth > 0; }
    // True while a hand-out is open or a modal show runs: a work holds the window. Main thread.
    bool Busy() const { return FHandOuts > 0 || FModalDepth > 0; }

    // The starter's own close after the modal show. Ends the current hand-out: when no close message
    // ended it (no worker ran), formIsBusyMutex is given back here, so that another running copy
    // does not wait for it. The close itself is refused while CanClose is False (the window then
    // stays hidden, as it was).
    void Close();

    // The window's parts, as the form lays them out.
    QFrame *mainPanel;
    QLabel *Image1;
    QLabel *StateLabel;

protected:
    bool event(QEvent *e) override;
    // FormCloseQuery: a close request is granted only when CanClose is True. A close asked for by
    // the window system (not by the code) is refused as well while the work still runs, so that the
    // main thread never leaves the modal loop under a worker that changes the trees.
    void closeEvent(QCloseEvent *e) override;
    // Escape does not close the window.
    void keyPressEvent(QKeyEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void hideEvent(QHideEvent *e) override;

private:
    // WM_WAITFORM_CLOSE: the work has ended: allow closing, close, give back both mutexes.
    void END_MSG_HANDLE();
    // WM_WAITFORM_UPDATE: applies the current text on the main thread.
    void WMUpdateText();
    // Closes the window when CanClose allows it; a running modal show then returns.
    void CloseWindow();
    // The modal loop while the window is not on the screen yet; true when the work ended in it.
    bool RunGrace();
    // Gives back one Get of formIsBusyMutex made by a hand-out, when one is still held.
    void ReleaseBusy();
    bool OnOwnThread() const;
    void SizeStateLabel();
    void FitToLabel();

    bool FCanClose = false;
    mutable std::mutex FTextLock; // guards FMessageText between workers and the main thread
    QString FMessageText;
    std::unique_ptr<TMutex> wfMutex;
    std::unique_ptr<TMutex> formIsBusyMutex;
    int FBusyHeld = 0;       // Gets of formIsBusyMutex by hand-outs not given back yet (main thread)
    bool FWorkEnded = false; // a close message arrived since the innermost open hand-out began
    int FHandOuts = 0;       // hand-outs not closed yet
    std::vector<bool> FOuterWorkEnded; // FWorkEnded of the open hand-outs around the innermost one
    int FModalDepth = 0;               // modal loops of WMShowModal running
    QEventLoop *FGraceLoop = nullptr;  // the innermost modal loop that runs before the window shows
    bool FLabelSizeDue = false;        // the label's text changed since it was sized
    QMovie *FMovie;
};

// The shared wait window of the main window: none until the first ShowWaitForm.
extern QPointer<TWaitForm> WaitForm;

// Hands out the shared window, ready but not shown: creates it with Owner and Text on first use,
// then TWaitForm::HandOut(Text). Main thread only. The main window's ShowWaitForm calls this.
TWaitForm *ShowWaitForm(QWidget *Owner, const QString &Text);
// Closes and frees the shared window, when there is one (the main window's destructor).
void FreeWaitForm();
