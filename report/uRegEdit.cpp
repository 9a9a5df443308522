#include "report/uRegEdit.h"

#include "platform/Registry.h"
#include "report/uLog.h"

namespace {

const char *const SettingsKey = "SOFTWARE\\Korrin Lab\\ParvixViewer";

// Logs the finish line when it goes out of scope, also while an exception passes.
template <typename F> struct TFinally
{
    F Action;
    ~TFinally() { Action(); }
};
template <typename F> TFinally(F) -> TFinally<F>;

// Runs Action; a failure of it is logged under Name and gives false.
template <typename F> bool Logged(const char *Name, F Action)
{
    try {
        Action();
        return true;
    } catch (const std::exception &E) {
        WriteLog(std::string("==========") + Name + " exception - " + E.what());
        return false;
    }
}

} // namespace

void WriteBaseNameToReg(const std::string &baseName)
{
    WriteLog("WriteBaseNameToReg - start");
    TFinally finish{[] { WriteLog("WriteBaseNameToReg - finish"); }};
    TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    reg.OpenKey(SettingsKey, true);
    reg.WriteString("baseName", baseName);
}

void ReadBaseNameFromReg(std::string &baseName)
{
    WriteLog("ReadBaseNameFromReg - start");
    TFinally finish{[&baseName] { WriteLog("ReadBaseNameFromReg - finish. Base name = " + baseName); }};
    TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    reg.OpenKey(SettingsKey, true);
    baseName = reg.ReadString("baseName");
}

bool RememberBaseName(const std::string &baseName)
{
    return Logged("WriteBaseNameToReg", [&] { WriteBaseNameToReg(baseName); });
}

bool RecallBaseName(std::string &baseName)
{
    return Logged("ReadBaseNameFromReg", [&] { ReadBaseNameFromReg(baseName); });
}

void WriteStateTableToReg(int32_t FormSizeX, int32_t FormSizeY, int32_t FormTop, int32_t FormLeft,
                          int32_t Splitter1Top, int32_t Splitter2Left, bool FullScreen)
{
    TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    reg.OpenKey(SettingsKey, true);
    reg.WriteInteger("form_size_x", FormSizeX);
    reg.WriteInteger("form_size_y", FormSizeY);
    reg.WriteInteger("form_top", FormTop);
    reg.WriteInteger("form_left", FormLeft);
    reg.WriteInteger("splitter1_top", Splitter1Top);
    reg.WriteInteger("splitter2_left", Splitter2Left);
    reg.WriteInteger("fullScreen", FullScreen ? 1 : 0);
}

std::unique_ptr<TStateTable> ReadFromStateTableFromReg()
{
    WriteLog("ReadFromStateTableFromReg - start");
    TFinally finish{[] { WriteLog("ReadFromStateTableFromReg - finish"); }};
    TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    if (!reg.KeyExists(SettingsKey) || !reg.OpenKey(SettingsKey, false) || !reg.ValueExists("form_size_x"))
        return nullptr;

    auto state = std::make_unique<TStateTable>();
    try {
        state->FormSizeX = reg.ReadInteger("form_size_x");
        state->FormSizeY = reg.ReadInteger("form_size_y");
        state->FormTop = reg.ReadInteger("form_top");
        state->FormLeft = reg.ReadInteger("form_left");
        state->Splitter1Top = reg.ReadInteger("splitter1_top");
        state->Splitter2Left = reg.ReadInteger("splitter2_left");
    } catch (const ERegistryException &) {
        // the fields from the failing one on keep 0, which the main window replaces by its defaults
    }
    try {
        state->FullScreen = reg.ReadBool("fullScreen");
    } catch (const ERegistryException &) {
        state->FullScreen = false;
    }
    return state;
}
