#include "common/ssDlgExtW.h"
#include "platform/MulDiv.h"
#include "platform/StringTable.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Answers the next modal box: Inspect sees it while it is shown, then the keys go to the box (or to
// its focused widget, as a user's keys would).
void AnswerNextBox(std::function<void(TMessageForm *)> Inspect, std::vector<Qt::Key> Keys,
                   bool ToFocusWidget = false)
{
    QTimer::singleShot(0, [Inspect = std::move(Inspect), Keys = std::move(Keys), ToFocusWidget] {
        auto *Form = qobject_cast<TMessageForm *>(QApplication::activeModalWidget());
        if (!Form) {
            ADD_FAILURE() << "no message box is shown";
            return;
        }
        if (Inspect)
            Inspect(Form);
        for (Qt::Key Key : Keys)
            QTest::keyClick(ToFocusWidget && Form->focusWidget() ? Form->focusWidget() : Form, Key);
        if (Form->isVisible()) { // unanswered: close it so the test goes on
            ADD_FAILURE() << "the keys did not close the box";
            Form->done(-1);
        }
    });
}

QPushButton *Button(QWidget *Form, const char *Name)
{
    return Form->findChild<QPushButton *>(QLatin1String(Name));
}

QLabel *Label(QWidget *Form, const char *Name)
{
    return Form->findChild<QLabel *>(QLatin1String(Name));
}

QRect Screen()
{
    return QGuiApplication::primaryScreen()->geometry();
}

struct TMeasures
{
    int32_t X, Y, HorzMargin, VertMargin, VertSpacing, HorzSpacing, ButtonWidth, ButtonHeight, ButtonSpacing;
};

// The measures a box with this font must use, derived from the font independently of the box.
TMeasures Expected(const QFont &Font, std::initializer_list<TMsgDlgBtn> Buttons)
{
    const QFontMetrics M(Font);
    const int32_t X =
        M.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52;
    const int32_t Y = M.height();
    int32_t ButtonWidth = MulDiv(50, X, 4);
    for (TMsgDlgBtn B : Buttons)
        ButtonWidth = std::max(ButtonWidth, MessageButtonWidth(B));
    return {X,
            Y,
            MulDiv(8, X, 4),
            MulDiv(4, Y, 8),
            MulDiv(6, Y, 8),
            MulDiv(10, X, 4),
            ButtonWidth,
            MulDiv(14, Y, 8),
            MulDiv(4, X, 4)};
}

// Builds a box while the message font has the given pixel size; Used receives that font.
std::unique_ptr<TMessageForm> CreateWithPixelSize(int Pixels, QFont &Used, const QString &Msg,
                                                  TMsgDlgType Type, TMsgDlgButtons Buttons)
{
    const QFont Saved = QApplication::font("QMessageBox");
    Used = Saved;
    Used.setPixelSize(Pixels);
    QApplication::setFont(Used, "QMessageBox");
    std::unique_ptr<TMessageForm> Form(CreateMessageDialogW(Msg, Type, Buttons));
    QApplication::setFont(Saved, "QMessageBox");
    return Form;
}

// The size the text takes laid out in half the screen's width.
QSize TextSize(const QFont &Font, const QString &Text)
{
    return QFontMetrics(Font)
        .boundingRect(QRect(0, 0, Screen().width() / 2, 0), Qt::TextWordWrap, Text)
        .size();
}

TEST(MulDiv, RoundsHalfAwayFromZeroLikeWindows)
{
    EXPECT_EQ(MulDiv(50, 7, 4), 88); // 87.5
    EXPECT_EQ(MulDiv(6, 13, 8), 10); // 9.75
    EXPECT_EQ(MulDiv(-50, 7, 4), -88);
    EXPECT_EQ(MulDiv(-50, -7, -4), -88);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(0x7fffffff, 4, 2), -1);
    EXPECT_EQ(MulDiv(0x7fffffff, 0x7fffffff, 0x7fffffff), 0x7fffffff);
}

TEST(LoadResWideString, KnownNegativeAndMissingIdsAndTheBuffer)
{
    EXPECT_EQ(LoadResWideString(50000), QStringLiteral("Warning"));
    EXPECT_EQ(LoadResWideString(50016), QStringLiteral("Yes to &All"));
    EXPECT_EQ(LoadResWideString(-1), QString());
    for (int32_t Missing : {50009, 50010, 49999, 50017, 0}) {
        const QString Text = LoadResWideString(Missing);
        EXPECT_TRUE(Text.contains(QStringLiteral("1814"))) << Text.toStdString();
        EXPECT_TRUE(Text.contains(QStringLiteral("resource name cannot be found"))) << Text.toStdString();
    }
    char16_t Buffer[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(LoadStringW(50000, Buffer, 3), 2); // cut to the buffer
    EXPECT_EQ(QString::fromUtf16(Buffer), QStringLiteral("Wa"));
    TOSError Error;
    EXPECT_EQ(LoadStringW(50000, Buffer, 0, &Error), 0);
    EXPECT_EQ(Error.Code, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(LoadStringW(50009, Buffer, 4, &Error), 0);
    EXPECT_EQ(Error.Code, ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST(WideMessageDlg, KeysAnswerByTheDefaultTheFocusedAndTheCancelButton)
{
    const TMsgDlgButtons AbortRetry = MsgDlgButton(mbAbort) | MsgDlgButton(mbRetry);
    const struct
    {
        TMsgDlgButtons Buttons;
        uint8_t DefaultIndex;
        std::vector<Qt::Key> Keys;
        const char *FocusTo; // the user moves there first; the keys go to the focused widget
        int Result;
        const char *Default, *Cancel;
    } Cases[] = {
        {mbYesNo, 0, {Qt::Key_Escape}, nullptr, mrNo, "mbYes", "mbNo"},
        {mbYesNo, 0, {Qt::Key_Return}, nullptr, mrYes, "mbYes", "mbNo"},
        {mbYesNo, 0, {Qt::Key_Enter}, "mbYes", mrYes, "mbYes", "mbNo"},
        {mbYesNo, 1, {Qt::Key_Return}, nullptr, mrNo, "mbNo", "mbNo"},
        {mbYesNo, 0, {Qt::Key_Return}, "mbNo", mrNo, "mbYes", "mbNo"},  // not the one that was default
        {mbYesNo, 2, {Qt::Key_Escape}, nullptr, mrNo, nullptr, "mbNo"}, // past the last: none is default
        {mbOKOnly, 0, {Qt::Key_Escape}, nullptr, mrOk, "mbOK", "mbOK"},
        {mbOKOnly, 0, {Qt::Key_Return}, nullptr, mrOk, "mbOK", "mbOK"},
        // No cancel button: Escape does nothing.
        {AbortRetry, 0, {Qt::Key_Escape, Qt::Key_Return}, nullptr, mrAbort, "mbAbort", nullptr},
    };
    int Row = 0;
    for (const auto &C : Cases) {
        SCOPED_TRACE(Row++);
        AnswerNextBox(
            [&](TMessageForm *Form) {
                for (QPushButton *B : Form->findChildren<QPushButton *>())
                    EXPECT_EQ(B->isDefault(), C.Default && B->objectName() == QLatin1String(C.Default))
                        << B->objectName().toStdString();
                if (C.Default) {
                    EXPECT_EQ(Form->focusWidget(), Button(Form, C.Default));
                }
                EXPECT_EQ(Form->CancelButton(), C.Cancel ? Button(Form, C.Cancel) : nullptr);
                if (C.FocusTo)
                    Button(Form, C.FocusTo)->setFocus();
            },
            C.Keys, C.FocusTo != nullptr);
        EXPECT_EQ(WideMessageDlg(QStringLiteral("Go on?"), mtConfirmation, C.Buttons, C.DefaultIndex),
                  C.Result);
    }
    // Closing the window answers Cancel, also without a cancel button.
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    EXPECT_EQ(WideMessageDlg(QStringLiteral("Disk busy."), mtWarning, AbortRetry), mrCancel);
}

TEST(WideMessageDlg, HelpButtonCallsTheHandlerAndStaysOpen)
{
    std::vector<QObject *> Senders;
    AnswerNextBox(
        [&](TMessageForm *Form) {
            Button(Form, "mbHelp")->click();
            EXPECT_TRUE(Form->isVisible());
            EXPECT_EQ(Senders, std::vector<QObject *>{Form});
        },
        {Qt::Key_Escape});
    EXPECT_EQ(WideMessageDlg(QStringLiteral("Read the manual?"), mtInformation,
                             MsgDlgButton(mbOK) | MsgDlgButton(mbHelp), 0,
                             [&](QObject *S) { Senders.push_back(S); }),
              mrOk);
    EXPECT_EQ(Senders.size(), 1u);
    // Without a handler the help button is harmless.
    std::unique_ptr<TMessageForm> Form(
        CreateMessageDialogW(QStringLiteral("x"), mtInformation, MsgDlgButton(mbHelp)));
    Button(Form.get(), "mbHelp")->click();
}

TEST(CreateMessageDialogW, ChildrenInCreationOrderCancelChoiceAndTitles)
{
    const TMsgDlgButtons Set = MsgDlgButton(mbNo) | MsgDlgButton(mbCancel) | MsgDlgButton(mbYes) |
                               MsgDlgButton(mbAbort) | MsgDlgButton(mbIgnore);
    std::unique_ptr<TMessageForm> Form(CreateMessageDialogW(QStringLiteral("Which?"), mtWarning, Set));
    QStringList Names;
    for (QObject *Child : Form->children())
        if (Child->isWidgetType())
            Names << Child->objectName();
    EXPECT_EQ(Names, QStringList({"Image", "Message", "mbYes", "mbNo", "mbCancel", "mbAbort", "mbIgnore"}));
    EXPECT_EQ(Form->CancelButton(), Button(Form.get(), "mbCancel"));
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Warning"));
    for (auto [Type, Title] :
         {std::pair{mtConfirmation, "Confirm"}, {mtError, "Error"}, {mtCustom, "Parvix Viewer"}}) {
        std::unique_ptr<TMessageForm> Other(CreateMessageDialogW(QStringLiteral("x"), Type, mbOKOnly));
        EXPECT_EQ(Other->windowTitle(), QLatin1String(Title));
    }
}

TEST(CreateMessageDialogW, ShortLineWithIconIsLaidOutFromTheFont)
{
    std::unique_ptr<TMessageForm> Form(CreateMessageDialogW(QStringLiteral("Done."), mtWarning, mbYesNo));
    const TMeasures E = Expected(Form->font(), {mbYes, mbNo});
    EXPECT_EQ(GetAveCharSize(QFontMetrics(Form->font())), QPoint(E.X, E.Y));
    EXPECT_EQ(Form->HorzMargin, E.HorzMargin);
    EXPECT_EQ(Form->VertMargin, E.VertMargin);
    EXPECT_EQ(Form->VertSpacing, E.VertSpacing);

    QLabel *Image = Label(Form.get(), "Image");
    QLabel *Message = Label(Form.get(), "Message");
    ASSERT_TRUE(Image && Message);
    EXPECT_EQ(Image->geometry(), QRect(E.HorzMargin, E.VertMargin, 32, 32));
    const QSize Text = TextSize(Form->font(), QStringLiteral("Done."));
    ASSERT_LT(Text.height(), 32);
    EXPECT_EQ(Message->geometry(), QRect(QPoint(E.HorzMargin + 32 + E.HorzSpacing, E.VertMargin), Text));
    // The text area is the icon's 32 pixels high: the buttons sit below that.
    QPushButton *Yes = Button(Form.get(), "mbYes"), *No = Button(Form.get(), "mbNo");
    const int32_t ButtonY = 32 + E.VertMargin + E.VertSpacing;
    const int32_t GroupWidth = 2 * E.ButtonWidth + E.ButtonSpacing;
    const int32_t Width =
        std::max(Message->x() + Message->width() - E.HorzMargin, GroupWidth) + 2 * E.HorzMargin;
    EXPECT_EQ(Form->size(), QSize(Width, 32 + E.ButtonHeight + E.VertSpacing + 2 * E.VertMargin));
    EXPECT_EQ(Yes->geometry(), QRect((Width - GroupWidth) / 2, ButtonY, E.ButtonWidth, E.ButtonHeight));
    EXPECT_EQ(No->geometry(),
              QRect(Yes->x() + E.ButtonWidth + E.ButtonSpacing, ButtonY, E.ButtonWidth, E.ButtonHeight));
    // Centred on the screen.
    EXPECT_EQ(Form->pos(),
              QPoint(Screen().width() / 2 - Form->width() / 2, Screen().height() / 2 - Form->height() / 2));
}

TEST(CreateMessageDialogW, MeasuresFollowTheMessageFont)
{
    QFont Big;
    const auto Form = CreateWithPixelSize(40, Big, QStringLiteral("Big"), mtInformation, mbOKOnly);
    const TMeasures E = Expected(Big, {mbOK});
    EXPECT_EQ(Form->HorzMargin, E.HorzMargin);
    const int TextHeight = TextSize(Big, QStringLiteral("Big")).height();
    ASSERT_GT(TextHeight, 32);
    EXPECT_EQ(Label(Form.get(), "Message")->height(), TextHeight);
    EXPECT_EQ(Button(Form.get(), "mbOK")->geometry().size(), QSize(E.ButtonWidth, E.ButtonHeight));
    EXPECT_EQ(Button(Form.get(), "mbOK")->y(), TextHeight + E.VertMargin + E.VertSpacing);
}

TEST(CreateMessageDialogW, LongMessageWrapsAtHalfTheScreen)
{
    QString Text;
    for (int I = 0; I < 80; ++I)
        Text += QStringLiteral("word%1 ").arg(I);
    std::unique_ptr<TMessageForm> Form(CreateMessageDialogW(Text, mtError, mbOKOnly));
    QLabel *Message = Label(Form.get(), "Message");
    const int Half = Screen().width() / 2;
    const QFontMetrics M(Form->font());
    EXPECT_LE(Message->width(), Half);
    EXPECT_GT(Message->width(), Half - M.horizontalAdvance(QStringLiteral("word00 ")) * 2);
    EXPECT_GE(Message->height(), 3 * M.height());
    EXPECT_EQ(Message->height(), TextSize(Form->font(), Text).height());
}

TEST(CreateMessageDialogW, CustomKindHasNoIcon)
{
    std::unique_ptr<TMessageForm> Form(CreateMessageDialogW(QStringLiteral("Hi"), mtCustom, mbYesNo));
    EXPECT_EQ(Label(Form.get(), "Image"), nullptr);
    const TMeasures E = Expected(Form->font(), {mbYes, mbNo});
    QLabel *Message = Label(Form.get(), "Message");
    EXPECT_EQ(Message->pos(), QPoint(E.HorzMargin, E.VertMargin));
    // A short text: the box is as wide as the button row plus the margins.
    EXPECT_EQ(Form->width(), 2 * E.ButtonWidth + E.ButtonSpacing + 2 * E.HorzMargin);
    EXPECT_EQ(Button(Form.get(), "mbYes")->x(), E.HorzMargin);
    EXPECT_EQ(Button(Form.get(), "mbYes")->y(), Message->height() + E.VertMargin + E.VertSpacing);
}

TEST(CreateMessageDialogW, MessageTextIsShownLiterally)
{
    const QString Text = QStringLiteral("<b>Tom & Jerry</b>\tC:\\a&b");
    std::unique_ptr<TMessageForm> Form(CreateMessageDialogW(Text, mtCustom, mbOKOnly));
    QLabel *Message = Label(Form.get(), "Message");
    EXPECT_EQ(Message->text(), Text);
    EXPECT_EQ(Message->textFormat(), Qt::PlainText);
    EXPECT_EQ(Message->width(),
              QFontMetrics(Form->font()).boundingRect(QRect(), Qt::TextExpandTabs, Text).width());
}

TEST(WideMessageDlgPos, GivenCoordinatesAndCentring)
{
    const int32_t ScreenH = Screen().height();
    AnswerNextBox(
        [=](TMessageForm *Form) {
            EXPECT_EQ(Form->x(), 100);
            EXPECT_EQ(Form->y(), ScreenH / 2 - Form->height() / 2);
        },
        {Qt::Key_Return});
    EXPECT_EQ(WideMessageDlgPos(QStringLiteral("Here"), mtInformation, mbOKOnly, 100, -1), mrOk);

    QMainWindow Main;
    Main.setGeometry(40, 30, 500, 400);
    Main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Main));
    AnswerNextBox(
        [&](TMessageForm *Form) {
            const QRect F = Main.frameGeometry();
            EXPECT_EQ(Form->pos(), QPoint(F.x() + (F.width() - Form->width()) / 2,
                                          F.y() + (F.height() - Form->height()) / 2));
        },
        {Qt::Key_Return});
    EXPECT_EQ(WideMessageDlg(QStringLiteral("Centred"), mtInformation, mbOKOnly), mrOk);
}

TEST(CreateMessageDialogW, ButtonWidthsAreMeasuredOncePerRun)
{
    const TMsgDlgButtons Set = MsgDlgButton(mbYesToAll) | MsgDlgButton(mbNoToAll);
    ASSERT_EQ(MessageButtonWidth(mbYesToAll), 0) << "another case showed this kind first";
    std::unique_ptr<TMessageForm> First(CreateMessageDialogW(QStringLiteral("Replace?"), mtCustom, Set));
    const QFontMetrics M(First->font());
    const int32_t Cached = MessageButtonWidth(mbYesToAll);
    EXPECT_EQ(Cached, M.boundingRect(QRect(), Qt::TextSingleLine, QStringLiteral("Yes to All")).width() + 8);

    // A second box with a tiny font keeps the first box's widths.
    QFont Tiny;
    const auto Second = CreateWithPixelSize(5, Tiny, QStringLiteral("Replace?"), mtCustom, Set);
    EXPECT_EQ(MessageButtonWidth(mbYesToAll), Cached);
    const TMeasures E = Expected(Tiny, {mbYesToAll, mbNoToAll});
    ASSERT_GT(Cached, MulDiv(50, E.X, 4));
    EXPECT_EQ(Button(Second.get(), "mbYesToAll")->width(), E.ButtonWidth);
    EXPECT_EQ(E.ButtonWidth, std::max(Cached, MessageButtonWidth(mbNoToAll)));
}

} // namespace
