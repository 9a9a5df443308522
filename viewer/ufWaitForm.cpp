#include "viewer/ufWaitForm.h"

#include "common/ssDlgExtW.h"
#include "common/ssMutex.h"
#include "platform/Messages.h"
#include "report/uLog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMovie>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <utility>

QPointer<TWaitForm> WaitForm;

namespace {

constexpr uint32_t TextWaitMs = 3000;
constexpr uint32_t CloseWaitMs = 3000;
constexpr uint32_t BusyWaitMs = 10000;

constexpr int FormWidth = 345;
constexpr int FormHeight = 54;
constexpr int LabelLeft = 75;

// A work that ends within this time never puts the window on the screen. Under 0.1 s a response
// reads as immediate, and it is shorter than one frame of the picture (70 ms); a work that takes
// longer shows the window 40 ms late, which nobody can tell from the time the work took.
constexpr int ShowGraceMs = 40;

// What the user does to a window: a modal window keeps all of it from the windows it blocks.
bool IsUserInput(QEvent::Type Type)
{
    switch (Type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::HoverEnter:
    case QEvent::HoverLeave:
    case QEvent::HoverMove:
    case QEvent::ContextMenu:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
    case QEvent::ToolTip:
    case QEvent::WhatsThis:
    case QEvent::StatusTip:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

// The paints that works held back, given back at most once per frame of the screen: a user who holds
// a key down starts works faster than any screen shows pictures, and a picture painted between two
// frames is never seen. Paints owed while no frame has passed since the last ones wait for the next.
class TPaintPacer : public QObject
{
public:
    static TPaintPacer &Instance()
    {
        static QPointer<TPaintPacer> pacer;
        if (!pacer)
            pacer = new TPaintPacer(qApp);
        return *pacer;
    }

    void Hold(QWidget *Window)
    {
        if (std::find(FOwed.begin(), FOwed.end(), Window) == FOwed.end())
            FOwed.emplace_back(Window);
    }

    void BlockStarted() { ++FBlocks; }

    void BlockEnded()
    {
        --FBlocks;
        Release();
    }

private:
    explicit TPaintPacer(QObject *Parent) : QObject(Parent)
    {
        FTimer.setSingleShot(true);
        FTimer.setTimerType(Qt::PreciseTimer);
        connect(&FTimer, &QTimer::timeout, this, [this] { Release(); });
        FClock.start();
    }

    static qint64 FrameMs()
    {
        const QScreen *screen = QGuiApplication::primaryScreen();
        const double rate = screen ? screen->refreshRate() : 0;
        return qint64(1000 / (rate >= 24 && rate <= 500 ? rate : 60));
    }

    void Release()
    {
        // The running work's end gives them back; a timer already waits for the next frame.
        if (FBlocks > 0 || FOwed.empty() || FTimer.isActive())
            return;
        const qint64 wait = FLast < 0 ? 0 : FLast + FrameMs() - FClock.elapsed();
        if (wait > 0) {
            FTimer.start(int(wait));
            return;
        }
        FLast = FClock.elapsed();
        for (const QPointer<QWidget> &window : FOwed)
            if (window)
                QCoreApplication::postEvent(window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
        FOwed.clear();
    }

    int FBlocks = 0;
    std::vector<QPointer<QWidget>> FOwed;
    qint64 FLast = -1; // when the owed paints were last given back
    QTimer FTimer;
    QElapsedTimer FClock;
};

// While the modal loop runs with the window not yet on the screen, keeps the user's input from every
// other window as the window's modality will once it shows: no click, key, wheel, drop or close
// request reaches a tree that a worker changes meanwhile.
class TInputBlock : public QObject
{
public:
    explicit TInputBlock(QWidget *Wait) : FWait(Wait), FOuterModal(QGuiApplication::modalWindow())
    {
        qApp->installEventFilter(this);
        TPaintPacer::Instance().BlockStarted();
    }
    ~TInputBlock() override
    {
        qApp->removeEventFilter(this);
        TPaintPacer::Instance().BlockEnded();
    }

protected:
    bool eventFilter(QObject *Watched, QEvent *e) override
    {
        // Other threads post messages and calls; From orders this thread's reads after their writes.
        if (TMessageEvent::From(e))
            return false;
        // A modal window shown since (a message box) takes the input as its own modality decides.
        if ((e->type() == QEvent::UpdateRequest || IsUserInput(e->type())) &&
            QGuiApplication::modalWindow() != FOuterModal)
            return false;
        // A paint in the middle of a work would come again at its end: windows paint once it has ended
        // or its window shows.
        if (e->type() == QEvent::UpdateRequest && Watched->isWidgetType() && Watched != FWait) {
            TPaintPacer::Instance().Hold(static_cast<QWidget *>(Watched));
            return true;
        }
        if (!IsUserInput(e->type()))
            return false;
        if (!Blocked(Watched, e))
            return false;
        e->ignore();
        return true;
    }

private:
    bool Blocked(QObject *Watched, QEvent *e) const
    {
        if (Watched->isWindowType()) {
            // Where the window system's input comes in; a close by the code passes.
            auto *window = static_cast<QWindow *>(Watched);
            return window != FWait->windowHandle() && (e->type() != QEvent::Close || e->spontaneous());
        }
        if (Watched->isWidgetType()) {
            // Input sent to a widget directly; tips come from a timer that mouse moves started before.
            const bool tip = e->type() == QEvent::ToolTip || e->type() == QEvent::WhatsThis ||
                             e->type() == QEvent::StatusTip;
            return static_cast<QWidget *>(Watched)->window() != FWait && (tip || e->spontaneous());
        }
        // A shortcut of an action or a shortcut object; the wait window has none.
        return e->type() == QEvent::Shortcut;
    }

    QWidget *FWait;
    QWindow *FOuterModal;
};

} // namespace

TWaitForm::TWaitForm(QWidget *Owner, const QString &Text)
    : QDialog(Owner, Qt::Dialog | Qt::FramelessWindowHint), wfMutex(std::make_unique<TMutex>()),
      formIsBusyMutex(std::make_unique<TMutex>())
{
    setModal(true);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);

    mainPanel = new QFrame(this);
    mainPanel->setObjectName(QStringLiteral("mainPanel"));
    mainPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    mainPanel->setLineWidth(1);
    mainPanel->setGeometry(0, 0, FormWidth, FormHeight);

    Image1 = new QLabel(mainPanel);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(2, 2, 50, 50);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setEnabled(false);
    FMovie = new QMovie(QStringLiteral(":/wait.gif"), QByteArray(), this);
    Image1->setMovie(FMovie);

    StateLabel = new QLabel(mainPanel);
    StateLabel->setObjectName(QStringLiteral("StateLabel"));
    StateLabel->setTextFormat(Qt::PlainText);
    StateLabel->setGeometry(LabelLeft, 20, 0, 13);
    setFixedSize(FormWidth, FormHeight);

    {
        std::lock_guard<std::mutex> lock(FTextLock);
        FMessageText = Text;
    }
    UpdateStateLabel();
    FCanClose = false;
}

TWaitForm::~TWaitForm()
{
    while (FBusyHeld > 0)
        ReleaseBusy();
}

bool TWaitForm::OnOwnThread() const
{
    return QThread::currentThread() == thread();
}

void TWaitForm::SetMessageText(const QString &Text)
{
    {
        std::lock_guard<std::mutex> lock(FTextLock);
        FMessageText = Text;
    }
    if (OnOwnThread())
        UpdateStateLabel();
    else
        PostMessage(this, WM_WAITFORM_UPDATE);
}

QString TWaitForm::MessageText() const
{
    std::lock_guard<std::mutex> lock(FTextLock);
    return FMessageText;
}

void TWaitForm::UpdateStateLabel()
{
    if (!OnOwnThread())
        return;
    if (!wfMutex->Get(TextWaitMs))
        return;
    TMutexRelease release(*wfMutex);
    const QString text = MessageText();
    StateLabel->setText(ShownLineBreaks(text));
    const qsizetype lines = text.count(QChar(0x0D));
    if (lines == 0)
        StateLabel->move(LabelLeft, 20);
    else if (lines == 1)
        StateLabel->move(LabelLeft, 15);
    else if (lines == 2)
        StateLabel->move(LabelLeft, 8);
    // Sized once the window comes on the screen, which most works end before.
    FLabelSizeDue = true;
    if (isVisible())
        SizeStateLabel();
}

void TWaitForm::SizeStateLabel()
{
    if (!std::exchange(FLabelSizeDue, false))
        return;
    StateLabel->adjustSize();
    FitToLabel();
}

void TWaitForm::FitToLabel()
{
    // The window grows with a text that does not fit, never below its design size.
    const QRect label = StateLabel->geometry();
    const int width = std::max(FormWidth, label.right() + 1 + 10);
    const int height = std::max(FormHeight, label.bottom() + 1 + 6);
    mainPanel->setGeometry(0, 0, width, height);
    setFixedSize(width, height);
}

void TWaitForm::HandOut(const QString &Text)
{
    if (FHandOuts++ > 0)
        FOuterWorkEnded.push_back(FWorkEnded);
    FWorkEnded = false;
    if (formIsBusyMutex->Get(BusyWaitMs))
        ++FBusyHeld;
    SetMessageText(Text);
}

int TWaitForm::WMShowModal()
{
    if (FWorkEnded)
        return result();
    ++FModalDepth;
    struct TLeave
    {
        int &Depth;
        ~TLeave() { --Depth; }
    } leave{FModalDepth};
    if (RunGrace())
        return result();
    return exec();
}

bool TWaitForm::RunGrace()
{
    TInputBlock block(this);
    QEventLoop loop;
    QEventLoop *const outer = std::exchange(FGraceLoop, &loop);
    QTimer::singleShot(ShowGraceMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::DialogExec);
    FGraceLoop = outer;
    return FWorkEnded;
}

void TWaitForm::Close()
{
    if (!FWorkEnded) {
        FWorkEnded = true;
        ReleaseBusy();
    }
    CloseWindow();
    if (FHandOuts > 0 && --FHandOuts > 0 && !FOuterWorkEnded.empty()) {
        FWorkEnded = FOuterWorkEnded.back();
        FOuterWorkEnded.pop_back();
    }
}

void TWaitForm::CloseWindow()
{
    // The close request's answer, as closeEvent gives it to the code. Hidden rather than closed: a
    // closed window gives up its native window, and every show would make a new one.
    if (FCanClose)
        hide();
}

void TWaitForm::ReleaseBusy()
{
    if (FBusyHeld == 0)
        return;
    --FBusyHeld;
    formIsBusyMutex->Release();
}

void TWaitForm::END_MSG_HANDLE()
{
    WriteLog("TWaitForm.END_MSG_HANDLE - close WaitForm - start");
    bool got = false;
    try {
        got = wfMutex->Get(CloseWaitMs);
    } catch (...) {
        // A failed wait must not leave the window open: go on as after the time-out.
    }
    FCanClose = true;
    FWorkEnded = true;
    CloseWindow();
    if (FGraceLoop)
        FGraceLoop->quit();
    if (got)
        wfMutex->Release();
    ReleaseBusy();
    WriteLog("TWaitForm.END_MSG_HANDLE - close WaitForm - finish");
}

void TWaitForm::WMUpdateText()
{
    UpdateStateLabel();
}

bool TWaitForm::event(QEvent *e)
{
    if (TMessageEvent *msg = TMessageEvent::From(e)) {
        switch (msg->Msg) {
        case WM_WAITFORM_SHOW:
            WMShowModal();
            return true;
        case WM_WAITFORM_CLOSE:
            END_MSG_HANDLE();
            return true;
        case WM_WAITFORM_UPDATE:
            WMUpdateText();
            return true;
        default:
            break;
        }
    }
    return QDialog::event(e);
}

void TWaitForm::closeEvent(QCloseEvent *e)
{
    if (!FCanClose || (e->spontaneous() && !FWorkEnded)) {
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);
}

void TWaitForm::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void TWaitForm::showEvent(QShowEvent *e)
{
    SizeStateLabel();
    FMovie->start();
    QDialog::showEvent(e);
}

void TWaitForm::hideEvent(QHideEvent *e)
{
    FMovie->stop();
    QDialog::hideEvent(e);
}

TWaitForm *ShowWaitForm(QWidget *Owner, const QString &Text)
{
    if (!WaitForm)
        WaitForm = new TWaitForm(Owner, Text);
    WaitForm->HandOut(Text);
    return WaitForm;
}

void FreeWaitForm()
{
    if (!WaitForm)
        return;
    WaitForm->Close();
    delete WaitForm.data();
}
