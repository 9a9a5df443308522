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

TEST(CreateMessageDialogW, MessageTextIsShownLiterally)
{
    const QString Text = QStringLiteral("<b>Tom & Jerry</b>\tC:\\a&b");
    std::unique_ptr<TMessageForm> Form(CreateMessageDialogW(Text, mtCustom, mbOKOnly));
    auto *Message = Form->findChild<QLabel *>(QStringLiteral("Message"));
    ASSERT_NE(Message, nullptr);
    EXPECT_EQ(Message->text(), Text);
    EXPECT_EQ(Message->textFormat(), Qt::PlainText);
}

TEST(WideMessageDlgPos, GivenCoordinatesAndCentring)
{
    const int32_t ScreenH = QGuiApplication::primaryScreen()->geometry().height();
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

} // namespace
