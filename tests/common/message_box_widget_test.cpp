#include "common/ssDlgExtW.h"
#include "platform/StringTable.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
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

// The keys answer with the default button (the one given, none past the last), the focused one, or
// the cancel button (none without one: Escape does nothing). The text shows as it is, never as markup.
TEST(WideMessageDlg, KeysAnswerByTheDefaultTheFocusedAndTheCancelButton)
{
    const TMsgDlgButtons AbortRetry = MsgDlgButton(mbAbort) | MsgDlgButton(mbRetry);
    const QString Text = QStringLiteral("<b>Go on?</b>\tC:\\a&b");
    const struct
    {
        TMsgDlgButtons Buttons;
        uint8_t DefaultIndex;
        std::vector<Qt::Key> Keys;
        const char *FocusTo; // the user moves there first; the keys go to the focused widget
        int Result;
    } Cases[] = {
        {mbYesNo, 0, {Qt::Key_Escape}, nullptr, mrNo},
        {mbYesNo, 0, {Qt::Key_Enter}, "mbYes", mrYes},
        {mbYesNo, 1, {Qt::Key_Return}, nullptr, mrNo},
        {mbYesNo, 0, {Qt::Key_Return}, "mbNo", mrNo},
        {mbOKOnly, 0, {Qt::Key_Escape}, nullptr, mrOk},
        {mbYesNo, 2, {Qt::Key_Return, Qt::Key_Escape}, nullptr, mrNo},
        {AbortRetry, 0, {Qt::Key_Escape, Qt::Key_Return}, nullptr, mrAbort},
    };
    for (const auto &C : Cases) {
        SCOPED_TRACE(&C - Cases);
        AnswerNextBox(
            [&](TMessageForm *Form) {
                const auto *Message = Form->findChild<QLabel *>(QStringLiteral("Message"));
                EXPECT_TRUE(Message->text() == Text && Message->textFormat() == Qt::PlainText); // literally
                if (C.FocusTo)
                    Button(Form, C.FocusTo)->setFocus();
            },
            C.Keys, C.FocusTo != nullptr);
        EXPECT_EQ(WideMessageDlg(Text, mtConfirmation, C.Buttons, C.DefaultIndex), C.Result);
    }
    // Closing the window answers Cancel, also without a cancel button.
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    EXPECT_EQ(WideMessageDlg(QStringLiteral("Disk busy."), mtWarning, AbortRetry), mrCancel);
}

} // namespace
