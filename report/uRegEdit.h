#pragma once
// The viewer's persistent settings in the per-user registry, key "SOFTWARE\Korrin Lab\ParvixViewer":
// the last report's path and the main window's geometry. Each routine makes and frees its own registry
// object; the main window decides when to call them and clamps what it reads.
#include <cstdint>
#include <memory>
#include <string>

// The saved window state. Made by ReadFromStateTableFromReg; the caller owns it.
struct TStateTable
{
    int32_t FormSizeX = 0;
    int32_t FormSizeY = 0;
    int32_t FormTop = 0;
    int32_t FormLeft = 0;
    int32_t Splitter1Top = 0;
    int32_t Splitter2Left = 0;
    bool FullScreen = false;
};

// Stores the report path as `baseName`, making the key when missing. Registry failures (ERegistryException)
// pass to the caller, after the finish line is logged.
void WriteBaseNameToReg(const std::string &baseName);
// Reads `baseName` into baseName (empty when there is none), making the key when missing. A value of
// another type raises ERegistryException; baseName then keeps what it held.
void ReadBaseNameFromReg(std::string &baseName);
// For an opening, which remembering its report never stops: WriteBaseNameToReg and ReadBaseNameFromReg,
// each with a failure logged instead of raised; false then.
bool RememberBaseName(const std::string &baseName);
bool RecallBaseName(std::string &baseName);
// Stores the geometry; FullScreen as 1 or 0. Registry failures pass to the caller.
void WriteStateTableToReg(int32_t FormSizeX, int32_t FormSizeY, int32_t FormTop, int32_t FormLeft,
                          int32_t Splitter1Top, int32_t Splitter2Left, bool FullScreen);
// The saved geometry, or null when the key or `form_size_x` is missing (nothing is made then). The first
// integer that is missing or not an integer ends the integer reads: it and those after it stay 0.
// `fullScreen` is read on its own: true for any non-zero integer, false when missing or not an integer.
// Never raises for a missing or mistyped value.
std::unique_ptr<TStateTable> ReadFromStateTableFromReg();
