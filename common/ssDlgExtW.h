#pragma once
// The Unicode message box every message of the system goes through.
#include <QString>
#include <cstdint>
#include <functional>

class QObject;

enum TMsgDlgType : uint8_t { mtWarning = 0, mtError = 1, mtInformation = 2, mtConfirmation = 3, mtCustom = 4 };

// Bit numbers in a button set.
enum TMsgDlgBtn : uint8_t {
    mbYes = 0, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp
};
using TMsgDlgButtons = uint16_t;
constexpr TMsgDlgButtons MsgDlgButton(TMsgDlgBtn b) { return TMsgDlgButtons(1u << b); }
constexpr TMsgDlgButtons mbYesNo = 3; // {mbYes, mbNo}
constexpr TMsgDlgButtons mbOKOnly = 4; // {mbOK}

using THelpEvent = std::function<void(QObject *Sender)>;

// Shows the box modally (main thread) and returns the modal result of the button that closed it.
int WideMessageDlg(const QString &Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                   uint8_t DefaultButtonIndex = 0, THelpEvent HelpEvent = {});
