#include "common/ssDlgExtW.h"

#include "platform/MulDiv.h"
#include "platform/StringTable.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <algorithm>
#include <bit>
#include <memory>

namespace {

struct TKindInfo
{
    int32_t CaptionId; // -1: the application's title
    QStyle::StandardPixmap Icon;
    bool HasIcon;
};

constexpr TKindInfo KindInfo[] = {
    {50000, QStyle::SP_MessageBoxWarning, true},     // mtWarning
    {50001, QStyle::SP_MessageBoxCritical, true},    // mtError
    {50002, QStyle::SP_MessageBoxInformation, true}, // mtInformation
    {50003, QStyle::SP_MessageBoxQuestion, true},    // mtConfirmation
    {-1, QStyle::SP_CustomBase, false},              // mtCustom
};

struct TButtonInfo
{
    const char *Name;
    int32_t CaptionId;
    int ModalResult;
};

constexpr TButtonInfo ButtonInfo[MsgDlgBtnCount] = {
    {"mbYes", 50004, mrYes},           {"mbNo", 50005, mrNo},       {"mbOK", 50006, mrOk},
    {"mbCancel", 50007, mrCancel},     {"mbAbort", 50011, mrAbort}, {"mbRetry", 50012, mrRetry},
    {"mbIgnore", 50013, mrIgnore},     {"mbAll", 50014, mrAll},     {"mbNoToAll", 50015, mrNoToAll},
    {"mbYesToAll", 50016, mrYesToAll}, {"mbHelp", 50008, mrNone},
};

// Caption widths, measured once per run with the font of the first box that shows the kind.
int32_t ButtonWidths[MsgDlgBtnCount] = {};

constexpr int32_t IconSize = 32;

bool HasButton(TMsgDlgButtons Buttons, TMsgDlgBtn B)
{
    return (Buttons & MsgDlgButton(B)) != 0;
}

QRect ScreenGeometry()
{
    const QScreen *Screen = QGuiApplication::primaryScreen();
    return Screen ? Screen->geometry() : QRect(0, 0, 800, 600);
}

// The window the box centres on when no position is given: the active window, else the first
// visible main window; null when there is none.
QWidget *MainWindowForCentring(const QWidget *Box)
{
    QWidget *Active = QApplication::activeWindow();
    if (Active && Active != Box)
        return Active;
    const QWidgetList TopLevels = QApplication::topLevelWidgets();
    for (QWidget *W : TopLevels)
        if (W != Box && W->isVisible() && qobject_cast<QMainWindow *>(W))
            return W;
    return nullptr;
}

} // namespace

TMessageForm::TMessageForm(QWidget *Owner)
    : QDialog(Owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
}

void TMessageForm::showEvent(QShowEvent *Event)
{
    QDialog::showEvent(Event);
    if (Event->spontaneous())
        return;
    int Count = 0;
    for (QObject *Child : children()) {
        auto *Button = qobject_cast<QPushButton *>(Child);
        if (!Button)
            continue;
        if (Count == DefaultButtonIndex) {
            Button->setFocus(Qt::OtherFocusReason);
            Button->setDefault(true);
        }
        ++Count;
    }
    raise();
    activateWindow();
}

void TMessageForm::keyPressEvent(QKeyEvent *Event)
{
    if (Event->modifiers() & ~Qt::KeypadModifier) {
        QDialog::keyPressEvent(Event);
        return;
    }
    switch (Event->key()) {
    case Qt::Key_Escape:
        // Without a cancel button Escape does nothing.
        if (FCancelButton && FCancelButton->isEnabled())
            FCancelButton->click();
        Event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // The focused button acts as the default one; otherwise the default button, if any.
        auto *Focused = qobject_cast<QPushButton *>(focusWidget());
        if (Focused && Focused->parentWidget() == this && Focused->isEnabled()) {
            Focused->click();
            Event->accept();
            return;
        }
        QDialog::keyPressEvent(Event);
        return;
    }
    default:
        QDialog::keyPressEvent(Event);
    }
}

void TMessageForm::reject()
{
    done(mrCancel);
}

void TMessageForm::HelpButtonClick()
{
    if (HelpEvent)
        HelpEvent(this);
}

QPoint GetAveCharSize(const QFontMetrics &Canvas)
{
    const QString Letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return QPoint(Canvas.horizontalAdvance(Letters) / 52, Canvas.height());
}

QString LoadResWideString(int32_t Ident)
{
    if (Ident < 0)
        return {};
    char16_t Buffer[4096];
    TOSError Error;
    const int Len = LoadStringW(uint32_t(Ident), Buffer, 4096, &Error);
    if (Len == 0)
        return QStringLiteral("System error: %1 (%2)").arg(Error.Description).arg(Error.Code);
    return QString::fromUtf16(Buffer, Len);
}

int32_t MessageButtonWidth(TMsgDlgBtn Btn)
{
    return Btn < MsgDlgBtnCount ? ButtonWidths[Btn] : 0;
}

QString ShownLineBreaks(QString Text)
{
    Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Text.replace(QChar(0x0D), QChar(0x0A));
    return Text;
}

TMessageForm *CreateMessageDialogW(const QString &Text, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                                   uint8_t DefaultButtonIndex, THelpEvent HelpEvent)
{
    const QString Msg = ShownLineBreaks(Text);
    if (DlgType > mtCustom)
        DlgType = mtCustom;
    const TKindInfo &Kind = KindInfo[DlgType];

    auto Form = std::make_unique<TMessageForm>();
    Form->setFont(QApplication::font("QMessageBox"));
    Form->DefaultButtonIndex = DefaultButtonIndex;
    Form->HelpEvent = std::move(HelpEvent);
    const bool RightToLeft = QGuiApplication::isRightToLeft();
    Form->setLayoutDirection(RightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    const int ReadingFlag = RightToLeft ? int(Qt::TextForceRightToLeft) : 0;

    const QFontMetrics Metrics(Form->font());
    const QPoint DialogUnits = GetAveCharSize(Metrics);
    Form->HorzMargin = MulDiv(8, DialogUnits.x(), 4);
    Form->VertMargin = MulDiv(4, DialogUnits.y(), 8);
    Form->VertSpacing = MulDiv(6, DialogUnits.y(), 8);
    const int32_t HorzSpacing = MulDiv(10, DialogUnits.x(), 4);
    int32_t ButtonWidth = MulDiv(50, DialogUnits.x(), 4);
    for (int B = 0; B < MsgDlgBtnCount; ++B) {
        if (!HasButton(Buttons, TMsgDlgBtn(B)))
            continue;
        if (ButtonWidths[B] == 0) {
            const QString Caption = LoadResWideString(ButtonInfo[B].CaptionId);
            const QRect TextRect = Metrics.boundingRect(
                QRect(), int(Qt::AlignLeft) | Qt::TextSingleLine | Qt::TextShowMnemonic | ReadingFlag,
                Caption);
            ButtonWidths[B] = TextRect.width() + 8;
        }
        ButtonWidth = std::max(ButtonWidth, ButtonWidths[B]);
    }
    const int32_t ButtonHeight = MulDiv(14, DialogUnits.y(), 8);
    const int32_t ButtonSpacing = MulDiv(4, DialogUnits.x(), 4);

    // '&' in a message is shown as it is, so it is measured that way too.
    const QRect Screen = ScreenGeometry();
    const QRect TextRect = Metrics.boundingRect(
        QRect(0, 0, Screen.width() / 2, 0),
        int(Qt::AlignLeft | Qt::AlignTop) | Qt::TextExpandTabs | Qt::TextWordWrap | ReadingFlag, Msg);
    const int32_t TextWidth = TextRect.width();
    const int32_t TextHeight = TextRect.height();
    int32_t IconTextWidth = TextWidth;
    int32_t IconTextHeight = TextHeight;
    if (Kind.HasIcon) {
        IconTextWidth += IconSize + HorzSpacing;
        IconTextHeight = std::max(IconTextHeight, IconSize);
    }
    const int32_t ButtonCount = int32_t(std::popcount(unsigned(Buttons & ((1u << MsgDlgBtnCount) - 1))));
    const int32_t ButtonGroupWidth =
        ButtonCount == 0 ? 0 : ButtonWidth * ButtonCount + ButtonSpacing * (ButtonCount - 1);
    const int32_t ClientWidth = std::max(IconTextWidth, ButtonGroupWidth) + 2 * Form->HorzMargin;
    const int32_t ClientHeight = IconTextHeight + ButtonHeight + Form->VertSpacing + 2 * Form->VertMargin;
    Form->setFixedSize(ClientWidth, ClientHeight);
    Form->move(Screen.x() + Screen.width() / 2 - ClientWidth / 2,
               Screen.y() + Screen.height() / 2 - ClientHeight / 2);

    Form->setWindowTitle(Kind.CaptionId < 0 ? QApplication::applicationName()
                                            : LoadResWideString(Kind.CaptionId));

    // Right to left, the icon and the text trade sides so that they never overlap.
    const auto Mirrored = [&](int32_t Left, int32_t Width) {
        return RightToLeft ? ClientWidth - Left - Width : Left;
    };
    if (Kind.HasIcon) {
        auto *Image = new QLabel(Form.get());
        Image->setObjectName(QStringLiteral("Image"));
        Image->setPixmap(
            Form->style()->standardIcon(Kind.Icon, nullptr, Form.get()).pixmap(IconSize, IconSize));
        Image->setGeometry(Mirrored(Form->HorzMargin, IconSize), Form->VertMargin, IconSize, IconSize);
    }
    auto *Message = new QLabel(Form.get());
    Message->setObjectName(QStringLiteral("Message"));
    Message->setTextFormat(Qt::PlainText);
    Message->setWordWrap(true);
    Message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Message->setText(Msg);
    Message->setGeometry(Mirrored(IconTextWidth - TextWidth + Form->HorzMargin, TextWidth), Form->VertMargin,
                         TextWidth, TextHeight);

    int CancelKind = -1; // none
    if (HasButton(Buttons, mbCancel))
        CancelKind = mbCancel;
    else if (HasButton(Buttons, mbNo))
        CancelKind = mbNo;
    else if (HasButton(Buttons, mbOK))
        CancelKind = mbOK;

    int32_t X = (ClientWidth - ButtonGroupWidth) / 2;
    const int32_t Y = IconTextHeight + Form->VertMargin + Form->VertSpacing;
    for (int B = 0; B < MsgDlgBtnCount; ++B) {
        if (!HasButton(Buttons, TMsgDlgBtn(B)))
            continue;
        const TButtonInfo &Info = ButtonInfo[B];
        auto *Button = new QPushButton(LoadResWideString(Info.CaptionId), Form.get());
        Button->setObjectName(QLatin1String(Info.Name));
        Button->setAutoDefault(false);
        Button->setGeometry(X, Y, ButtonWidth, ButtonHeight);
        TMessageForm *F = Form.get();
        if (B == mbHelp)
            QObject::connect(Button, &QPushButton::clicked, F, [F] { F->HelpButtonClick(); });
        else
            QObject::connect(Button, &QPushButton::clicked, F,
                             [F, Result = Info.ModalResult] { F->done(Result); });
        if (B == CancelKind)
            F->FCancelButton = Button;
        X += ButtonWidth + ButtonSpacing;
    }
    return Form.release();
}

int WideMessageDlgPos(const QString &Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int32_t X, int32_t Y,
                      uint8_t DefaultButtonIndex, THelpEvent HelpEvent)
{
    const std::unique_ptr<TMessageForm> Form(
        CreateMessageDialogW(Msg, DlgType, Buttons, DefaultButtonIndex, std::move(HelpEvent)));
    if (X >= 0)
        Form->move(X, Form->y());
    if (Y >= 0)
        Form->move(Form->x(), Y);
    if (X < 0 && Y < 0) {
        if (const QWidget *Main = MainWindowForCentring(Form.get())) {
            const QRect Frame = Main->frameGeometry();
            QPoint Pos(Frame.x() + (Frame.width() - Form->width()) / 2,
                       Frame.y() + (Frame.height() - Form->height()) / 2);
            // A main window partly off its screen must not push the box off it.
            if (const QScreen *Screen = Main->screen()) {
                const QRect Avail = Screen->availableGeometry();
                Pos.setX(std::max(Avail.left(), std::min(Pos.x(), Avail.right() + 1 - Form->width())));
                Pos.setY(std::max(Avail.top(), std::min(Pos.y(), Avail.bottom() + 1 - Form->height())));
            }
            Form->move(Pos);
        }
    }
    return Form->exec();
}

int WideMessageDlg(const QString &Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                   uint8_t DefaultButtonIndex, THelpEvent HelpEvent)
{
    return WideMessageDlgPos(Msg, DlgType, Buttons, -1, -1, DefaultButtonIndex, std::move(HelpEvent));
}
