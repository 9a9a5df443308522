#include "viewer/ufWaitForm.h"

#include "common/ssDlgExtW.h"
#include "common/ssMutex.h"
#include "platform/Messages.h"
#include "report/uLog.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMovie>
#include <QThread>

#include <algorithm>

QPointer<TWaitForm> WaitForm;

namespace {

constexpr uint32_t TextWaitMs = 3000;
constexpr uint32_t CloseWaitMs = 3000;
constexpr uint32_t BusyWaitMs = 10000;

constexpr int FormWidth = 345;
constexpr int FormHeight = 54;
constexpr int LabelLeft = 75;

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
    // The same few texts come with every work: each one's size is worked out once for the font.
    if (StateLabel->font() != FSizedFont) {
        FLabelSizes.clear();
        FSizedFont = StateLabel->font();
    }
    if (const auto known = FLabelSizes.constFind(StateLabel->text()); known != FLabelSizes.cend()) {
        StateLabel->resize(*known);
    } else {
        StateLabel->adjustSize();
        if (FLabelSizes.size() >= 64)
            FLabelSizes.clear();
        FLabelSizes.insert(StateLabel->text(), StateLabel->size());
    }
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
    return exec();
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
