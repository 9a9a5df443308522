#pragma once
// Small services of the report layer.
#include <QChar>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <string_view>

#include <sys/types.h>

class TImageList;
class TSystemImageList;
// The tree control's node, as platform/VirtualStringTree.h declares it; repeated to keep this header light.
struct TVirtualNode;
using PVirtualNode = TVirtualNode *;

// ---- Tick-state conversions ----
// The trees hold 0 unchecked, 2 checked, 4 mixed (1, 3, 5 their pressed forms); the report stores
// 0 unchecked, 1 checked, 2 mixed in check_and_comment_map.

// Tree state -> stored value: 2 and 3 give 1, 4 and 5 give 2, anything else 0.
int32_t CheckStateToDB(uint8_t State);
// Stored value -> tree state: 1 gives 2, 2 gives 4, anything else (0, NULL read as 0) gives 0.
uint8_t DBToCheckState(int32_t Value);

// ---- Conversions and text helpers ----
// Date-time values are days since 30 December 1899 with the time of day as fraction; before that day
// the fraction counts forward from the (negative) whole day, so -1.25 is 29 December 1899, 06:00.

// True exactly when Value is 1 (the IS_FOLDER and IS_DELETED columns).
bool IntToBool(int32_t Value);
// A report time text, "yyyy-mm-dd hh:mm:ss" (when it holds a "-") or "dd.mm.yyyy hh:mm:ss" (when it holds
// a "."), read by fixed character positions and rearranged into day.month.year time, which is then read
// in that fixed order whatever the user's regional settings are. A text that cannot be read gives
// 1 January 1980, 00:00:00. Safe on any thread.
double ReportStrToDateTime(std::string_view Str);
// The moment of a time text of one of the two full layouts, "yyyy-mm-dd hh:mm:ss" or
// "dd.mm.yyyy hh:mm:ss", as the number yyyymmddhhmmss, which orders as the moments do; false for any
// other text and for a day or time that does not exist. ReportStrToDateTime reads these texts to the
// same moment. Safe on any thread.
bool ReportTimeKey(std::string_view Str, int64_t &Key);
// The day of Date as "year-mm-dd" (year without leading zeros); the time of day is dropped.
std::string DateToReportStr(double Date);
// The local date and time a date-time value stands for, and back (milliseconds are kept).
QDateTime DateTimeToQDateTime(double Value);
double QDateTimeToDateTime(const QDateTime &Value);
// Value shown under the user's regional settings (QLocale()): short date, then the time with seconds;
// the time is left out at midnight exactly.
QString DateTimeToStr(double Value);

// From the last "." to the end, dot included; the whole name when it has no "."; case kept.
std::string GetFileExtension(const std::string &Name);
bool WideCharInArray(QChar C, const QList<QChar> &Chars);
// Cuts Str at every character of Delimiters; empty parts stay. Without a delimiter in Str the one part
// is Str unchanged; otherwise every part is trimmed of characters of code 32 and below.
void SplitWideString(const QString &Str, const QList<QChar> &Delimiters, QStringList &Parts);
// Without trailing (leading) blanks; only code 32 counts, tabs stay.
QString TrimRightSpaces(const QString &Str);
QString TrimLeftSpaces(const QString &Str);
QString ReplaceWideChar(const QString &Str, QChar OldChar, QChar NewChar);
// Gives the process's free heap pages back to the system.
void TrimWorkingSet();

// ---- Navigation history ----
// One visited folder of the folder tree's history, doubly linked; the list owns its entries, the tree
// its nodes. An entry without a node stands for nothing visited yet. Main thread only.
struct THistoryItem
{
    PVirtualNode Node = nullptr;
    THistoryItem *Prev = nullptr;
    THistoryItem *Next = nullptr;
};

// Item := a new entry with nothing set (what Item held is not freed).
void NewHistoryItem(THistoryItem *&Item);
// A new entry for Node after Current (Current.Next := it), which the caller makes current. The caller
// drops Current's forward entries first (FreeNextItems on Current->Next). With Current null the new entry
// is the first of a list.
THistoryItem *AddHistoryItem(THistoryItem *&Current, PVirtualNode Node);
// Frees Item and every entry after (before) it, and sets Item to null; nothing with null.
void FreeNextItems(THistoryItem *&Item);
void FreePrevItems(THistoryItem *&Item);
// Frees the whole list Current belongs to and sets Current to null; logs "ClearList - start" and,
// when there was a list, "ClearList - finish".
void ClearList(THistoryItem *&Current);

// ---- Shell icons and product version ----
// Image indexes of the trees' icon list by key: "drive", "folder", or a file's extension as
// GetFileExtension gives it (the whole name for a name without a dot). Keys compare without regard to
// letter case, so ".TXT" and ".txt" share one image. Main thread only.
class TIconCache
{
public:
    int Count() const { return static_cast<int>(FKeys.size()); }
    // The position of Key in the cache, or -1.
    int IndexOf(const std::string &Key) const;
    const std::string &Strings(int Index) const { return FKeys.at(Index); }
    int Objects(int Index) const { return FImages.at(Index); }
    void AddObject(const std::string &Key, int ImageIndex);
    void Clear();

private:
    QList<std::string> FKeys;
    QList<int> FImages;
    QHash<QString, int> FPositions; // case-folded key -> position
};

extern TIconCache IconCache;

// Starts a new, empty IconCache and appends the drive icon and the folder icon to Icons (images 0 and 1
// when Icons was empty), under the keys "drive" and "folder".
void FillIconList(TImageList &Icons, const TSystemImageList &SysImages);
// The image index in Icons for Key; the first time a key is met, its type's small icon is appended.
int GetIconIndexByExt(const std::string &Key, TImageList &Icons, const TSystemImageList &SysImages);
// The system image list's index of the icon of an existing file or folder, or -1 when Path cannot be
// resolved.
int GetSysIconIndex(const std::string &Path, unsigned Flags);
// The system image list's index of the icon for a file of that name (only its extension counts; the
// empty name stands for a drive); 0 when that fails.
int GetSysIconIndexByName(const std::string &Name);
// The name of the type of a file of that name, by its extension (the MIME type's comment); empty when
// that fails.
QString GetFileTypeName(const std::string &FileName);
// The operating system's folder for its own programs.
std::string GetWindowsDir();
// A file as the file system knows it, whichever path names it: its device and inode.
struct TFileId
{
    bool Exists = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    bool operator==(const TFileId &) const = default;
};
// The file that Path names now (links followed); Exists false when it names none. Asked of the file
// system only: no descriptor is opened, whose closing would drop SQLite's locks on an open report.
TFileId FileIdOf(const std::string &Path);
// True when Path still names File, an existing file: not moved, replaced or deleted since File was
// taken of it.
bool NamesFile(const std::string &Path, const TFileId &File);
// Why nothing more is written to, or exported from, a report whose path no longer names the file that
// was opened.
extern const QString ReportGoneText;
// True when both paths name one existing file (links and other spellings followed), asked as above.
bool IsSameFile(const std::string &A, const std::string &B);
// The product version in FileName's version block; empty when the file has no block, or none in
// language 0419 with code page 04E3.
std::string GetProductVersion(const QString &FileName);

// ---- Compressed report unpacking ----
class QObject;

// What a file's first bytes make of it.
enum class TFileHead {
    Database,   // an SQLite database's header
    Other,      // anything else: a compressed report, or no report at all
    Empty,      // no bytes
    Unreadable, // the file cannot be opened or read
};
// Reads the first bytes of the file at Utf8Path; for Empty and Unreadable, Error says why in words (with
// the system's reason). It opens the file: never ask it of a file of the open report, whose closing
// would drop SQLite's locks on that report.
TFileHead ReadFileHead(const std::string &Utf8Path, QString &Error);

// What the report probe found in a database file: opened without creating it, its tables checked for
// what the viewer reads and writes, the "version" query of its information table stepped once;
// everything is closed again.
struct TReportProbe
{
    int Version = 0; // the "version" value, 0 without a row
    QString Error;   // why the file is no report the viewer can open, in words; empty when it is one
};
TReportProbe ProbeReport(const std::string &Utf8Path);

// The start of the temporary file's name; a unique ending follows.
extern const char *const TempBaseFileName; // "tempKorrinBaseFile"

// What unpacking needs of the main window, which implements it (the report layer cannot include the
// viewer). All calls come on the main thread.
class TDecompressHost
{
public:
    virtual ~TDecompressHost() = default;
    // The main window's window handle. The worker posts WM_DECOMPRESS_ERROR there; its handler sets
    // the failure flag to 1 and does nothing else.
    virtual QObject *MainHandle() = 0;
    // The main window's failure flag decompressFailed (0 or 1).
    virtual int GetDecompressFailed() const = 0;
    virtual void SetDecompressFailed(int Value) = 0;
    // Creates a new wait window owned by the main window (freed with it, not the shared one), with
    // Text, not shown yet. Returns its window handle, to which the worker posts WM_WAITFORM_CLOSE.
    virtual QObject *CreateDecompressWaitForm(const QString &Text) = 0;
    // Shows that wait window modally; returns once its close message has closed it (at once when the
    // message was handled before).
    virtual void ShowDecompressWaitForm(QObject *WaitForm) = 0;
};

// Puts the whole file Temp in Path's place in one step (a rename), with Path's permission bits when
// Path exists, and makes the step last (the folder's entry synced). Returns 0, or the rename's errno
// (Temp is then left where it is).
int ReplaceWithFile(const std::string &Temp, const std::string &Path);

// Inflates the compressed report at SourcePath through TDeCompressThread under a wait window of
// MainForm's ("Extracting report.") into a new temporary file beside it, and when the whole stream was
// inflated and the result opens as a report (ProbeReport), renames it over SourcePath, keeping
// SourcePath's permission bits. NewName: SourcePath (8-bit) after the replacement, else empty.
// Every failure raises an Exception whose message says what happened (with the system's text where
// the system failed); SourcePath is then as it was and the temporary file is gone.
void DecompressReport(const QString &SourcePath, TDecompressHost &MainForm, std::string &NewName);
