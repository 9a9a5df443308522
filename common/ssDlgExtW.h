#pragma once
// The Unicode message box every message of the system goes through.
#include <QDialog>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>

class QFontMetrics;
class QObject;
class QPushButton;

enum TMsgDlgType : uint8_t {
    mtWarning = 0,
    mtError = 1,
    mtInformation = 2,
    mtConfirmation = 3,
    mtCustom = 4
};

// Bit numbers in a button set.
enum TMsgDlgBtn : uint8_t {
    mbYes = 0,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};
constexpr int MsgDlgBtnCount = mbHelp + 1;
using TMsgDlgButtons = uint16_t;
constexpr TMsgDlgButtons MsgDlgButton(TMsgDlgBtn b)
{
    return TMsgDlgButtons(1u << b);
}
constexpr TMsgDlgButtons mbYesNo = 3;  // {mbYes, mbNo}
constexpr TMsgDlgButtons mbOKOnly = 4; // {mbOK}

// Modal results: what the box returns for the button that closed it.
constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
              mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;

using THelpEvent = std::function<void(QObject *Sender)>;

// The box itself, laid out by CreateMessageDialogW. Children, in creation order: the icon "Image"
// (kinds with an icon only), the label "Message", then one button per kind in the set, named after
// the kind ("mbYes", ...).
class TMessageForm : public QDialog
{
    Q_OBJECT
public:
    explicit TMessageForm(QWidget *Owner = nullptr);

    // The button that gets the focus and becomes the default on show, counted from 0 among the
    // buttons; past the last one, none does.
    uint8_t DefaultButtonIndex = 0;
    // Called with the form by the "mbHelp" button; may be empty.
    THelpEvent HelpEvent;
    // Layout measures in pixels, taken from the form's font.
    int32_t HorzMargin = 0;
    int32_t VertMargin = 0;
    int32_t VertSpacing = 0;

    // The button that Escape presses, or null when the set has none of Cancel, No and OK.
    QPushButton *CancelButton() const { return FCancelButton; }

protected:
    void showEvent(QShowEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;

public:
    // Closing the window without a button answers mrCancel.
    void reject() override;

private:
    friend TMessageForm *CreateMessageDialogW(const QString &, TMsgDlgType, TMsgDlgButtons, uint8_t,
                                              THelpEvent);
    void HelpButtonClick();

    QPushButton *FCancelButton = nullptr; // a child of the form
};

// Shows the box modally (main thread) and returns the modal result of the button that closed it.
int WideMessageDlg(const QString &Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                   uint8_t DefaultButtonIndex = 0, THelpEvent HelpEvent = {});

// As WideMessageDlg, placed at screen position X, Y: a coordinate of 0 or more sets that edge, a
// negative one keeps the screen-centred value; both negative centres the box on the main window.
int WideMessageDlgPos(const QString &Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int32_t X, int32_t Y,
                      uint8_t DefaultButtonIndex = 0, THelpEvent HelpEvent = {});

// Builds and lays out the box without showing it; the caller owns it.
TMessageForm *CreateMessageDialogW(const QString &Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                                   uint8_t DefaultButtonIndex = 0, THelpEvent HelpEvent = {});

// The text of a string-table entry: empty for a negative id; for an id the table lacks, the message
// of the error that loading it gave.
QString LoadResWideString(int32_t Ident);

// The system's texts break lines with a carriage return (or CR LF); a Qt label breaks only at a line feed.
QString ShownLineBreaks(QString Text);

// Average character width (of "A".."Z" and "a".."z") and the height of the font measured by Canvas.
QPoint GetAveCharSize(const QFontMetrics &Canvas);

// The cached width of a button kind's caption (+ 8), 0 until a box first shows that kind. It is
// measured once per run, with the font of the first box that shows the kind.
int32_t MessageButtonWidth(TMsgDlgBtn Btn);
