#pragma once
// The main window: its components, the state it and its workers share, and its life cycle.
// The class is split by concern: Main.cpp (life cycle, messages, report-layer hooks), MainLayout.cpp
// (building the components, captions, hints, images), MainOpen.cpp (opening a report),
// MainFolderTree.cpp (the folder tree's events), MainFileList.cpp (the file list and what focusing shows),
// MainNavigation.cpp (history, Up, Go to folder), MainChecks.cpp (ticks in both trees, "Select all",
// the comment box), MainSave.cpp (saving and exporting), MainSearch.cpp (searches and result pages).
#include "platform/ImageList.h"
#include "platform/Messages.h"
#include "platform/ShellApi.h"
#include "platform/VirtualStringTree.h"
#include "report/uExtraFunctions.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;
class QAction;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTabWidget;
class QToolBar;
class QToolButton;
class QUrl;
class TDirectoryList;
class TFreeMemThread;
class TInt64List;
class TStatusBar;
class TThread;
class TVirtualTreeView;
class TWaitForm;

class TMainForm : public QMainWindow, public TDecompressHost
{
    Q_OBJECT
public:
    // Builds the window (and opens the report named by parameter 1 of the program's command line).
    explicit TMainForm(QWidget *Owner = nullptr);
    // As above with the command line given: Arguments[0] is the program, Arguments[1] parameter 1.
    TMainForm(QWidget *Owner, const QStringList &Arguments);
    // Stops FreeMemThread, deletes the log file, frees the shared wait window, stops taking drops.
    ~TMainForm() override;

    // ---- Life cycle
    // Closes the open report (commit, both trees emptied, connection closed, tick helper and
    // history freed) and saves the window geometry. Nothing of it needs an open report.
    void FinishWork();
    // The window's close event: FinishWork; the close goes on.
    void FormClose();
    // Restores the saved geometry, clamping values out of range.
    void LoadFormParams();
    // Layout and image set-up: at creation and again for each opening.
    void InitLabels();
    void InitializeImages();
    void InitializeTrees();
    // Run-time captions and hints: once, at creation.
    void InitControlCaptions();
    void InitHintTextes();
    // lbl_HolderInfo's caption: DesignText, the copyright sign, the first year, "-" and CurrentYear
    // (never less than 2014, whatever the clock says).
    static QString HolderInfoCaption(const QString &DesignText, int CurrentYear);
    // Opens the developer's web address (the hint) of a clicked label; other senders do nothing.
    void lbl_DevelopInfoClick(QObject *Sender);
    // The page control's page-change events; both do nothing.
    void pc_InformationChanging(QObject *Sender, bool &AllowChange);
    void pc_InformationChange(QObject *Sender);
    // Hands out the shared wait window for a work started from this window, with Text.
    TWaitForm *ShowWaitForm(const QString &Text);
    // The folder unloading's hand-out: "Deallocating of outdated resources. Please wait."
    TWaitForm *ShowFreeMemWait();
    // WM_CREATE_FREEMEM_WAIT: writes the handed-out wait window into *Handle; none while another work
    // holds the window, a modal window or menu is up, or a tree is in update (the pass then waits).
    void WMCreateFreeMemWait(HWND *Handle);
    // WM_SHOW_WAIT_MODAL: shows the wait window of the pass modally (after a work's modal show that
    // began meanwhile), telling FreeMemThread from inside the modal loop.
    void WMShowWaitModal();

    // ---- Opening a report
    // True when Path may be opened: not the open report, a report database (a compressed one is
    // unpacked in place first). Shows its own message boxes.
    bool TryDBorArchive(const QString &Path);
    // The open button: takes a path from the open dialog (or from droppedFileName), tests it,
    // closes the previous report and prepares the new one under the wait window.
    void tb_OpenBaseClick();
    // Files dropped on the window (local paths, in the order dropped): opens the first one.
    void WMDropFiles(const QStringList &Paths);
    // Hands dropped paths to WMDropFiles later, once no work's wait window is running.
    void DeliverDrop(const QStringList &Paths);
    // Runs Fn from the message loop, once no work's wait window is running.
    void AfterWork(const std::function<void()> &Fn);
    // WM_DECOMPRESS_ERROR: decompressFailed := 1.
    void WMDecompressError();
    // WM_LOAD_FINISHED: opens the prepared report for work and builds the folder tree's root.
    void FinishLoad();
    void PrepareBaseToWork();
    void InitializeBase();
    void CreateRoot();

    // ---- The folder tree's events
    // Loads the folder's children once (a worker under the wait window); also called directly.
    void tv_FolderTreeExpanding(TVirtualStringTree *Sender, PVirtualNode Node, bool &Allowed);
    void tv_FolderTreeGetText(TVirtualStringTree *Sender, PVirtualNode Node, int Column,
                              TVSTTextType TextType, QString &CellText);
    void tv_FolderTreeGetImageIndex(TVirtualStringTree *Sender, PVirtualNode Node, TVTImageKind Kind,
                                    int Column, bool &Ghosted, int &ImageIndex);
    void tv_FolderTreeAfterItemPaint(TVirtualStringTree *Sender, QPainter *TargetCanvas, PVirtualNode Node,
                                     const QRect &ItemRect);

    // ---- The file list and what focusing an item shows (MainFileList.cpp)
    // The folder tree's focus moves to NewNode: shows the folder's comment, hides the paging bar, and
    // fills the file list with the folder's children (loaded first when they are not) through
    // TAddingThread under the wait window, unless the list keeps a result page or already shows the
    // folder. Never refuses the change.
    void tv_FolderTreeFocusChanging(TVirtualStringTree *Sender, PVirtualNode OldNode, PVirtualNode NewNode,
                                    int OldColumn, int NewColumn, bool &Allowed);
    // The splitter between the trees moved: repaints the file list and its tool bar.
    void tv_FolderTreeResize(QObject *Sender);
    // Name, size in KB, the three times, type; "Error" when the text cannot be made.
    void tv_FilesTreeGetText(TVirtualStringTree *Sender, PVirtualNode Node, int Column, TVSTTextType TextType,
                             QString &CellText);
    void tv_FilesTreeGetImageIndex(TVirtualStringTree *Sender, PVirtualNode Node, TVTImageKind Kind,
                                   int Column, bool &Ghosted, int &ImageIndex);
    // A left click sorts by the column (again: the other way round) and shades it.
    void tv_FilesTreeHeaderClick(TVTHeader *Sender, int Column, Qt::MouseButton Button,
                                 Qt::KeyboardModifiers Shift, int X, int Y);
    // A new filling or result page in the order the header shows, once a header click chose one.
    void SortFilesTreeAsHeaderShows();
    // Result < 0 puts Node1 first in ascending order.
    void tv_FilesTreeCompareNodes(TVirtualStringTree *Sender, PVirtualNode Node1, PVirtualNode Node2,
                                  int Column, int &Result);
    // A folder row: focuses (loading it when needed) and selects that folder in the folder tree.
    void tv_FilesTreeDblClick(TVirtualStringTree *Sender);
    // A row's focus: its size, comment and deleted mark are shown; the list stays as it is.
    void tv_FilesTreeFocusChanging(TVirtualStringTree *Sender, PVirtualNode OldNode, PVirtualNode NewNode,
                                   int OldColumn, int NewColumn, bool &Allowed);
    // Each label shows Item's field that its name stands for (lbl_sizeLabel: the size) in KB, MB or GB;
    // a folder's lbl_sizeLabel shows the total of its contents in MB.
    void ShowSize(TDirectoryList *Item, const QList<QLabel *> &Labels);

    // ---- Folder navigation (MainNavigation.cpp)
    // Records the newly focused folder in the history, unless a Previous or Next step moved the focus.
    void tv_FolderTreeFocusChanged(TVirtualStringTree *Sender, PVirtualNode Node, int Column);
    // A folder-tree node goes (on the deleting thread): its history entries go with it; the buttons
    // follow on the main thread.
    void tv_FolderTreeFreeNode(TVirtualStringTree *Sender, PVirtualNode Node);
    // One step back or forward through the history, not recorded.
    void tb_PrevClick();
    void tb_NextClick();
    // Focuses the focused folder's parent; nothing on the report's root.
    void tb_UpClick();
    // Loads the folders down to the file-list item last right-clicked and focuses the folder holding it.
    void mi_GoToFolderClick();

    // ---- Ticks and comments (MainChecks.cpp)
    // A press in a tree: the next tick is the user's. The file list also notes a right press over a row
    // (RightClickX/Y, -1 otherwise).
    void tv_FolderTreeMouseDown(TVirtualStringTree *Sender, Qt::MouseButton Button,
                                Qt::KeyboardModifiers Shift, int X, int Y);
    void tv_FolderTreeKeyDown(TVirtualStringTree *Sender, int &Key, Qt::KeyboardModifiers Shift);
    void tv_FilesTreeMouseDown(TVirtualStringTree *Sender, Qt::MouseButton Button,
                               Qt::KeyboardModifiers Shift, int X, int Y);
    // The user's folder tick goes into the tick store; the control's follow-on changes store nothing.
    // A failing store raises, so that the control keeps the node as it was.
    void tv_FolderTreeChecking(TVirtualStringTree *Sender, PVirtualNode Node, TCheckState &NewState,
                               bool &Allowed);
    // Refills the file list when a stored folder tick changed the focused folder.
    void tv_FolderTreeChecked(TVirtualStringTree *Sender, PVirtualNode Node);
    // A row's tick: stored, and mirrored into the folder tree. The "Select all" root stores nothing.
    // Also called directly by CheckingThread (Allowed is then not read).
    void tv_FilesTreeChecking(TVirtualStringTree *Sender, PVirtualNode Node, TCheckState &NewState,
                              bool &Allowed);
    // The user's tick of "Select all" stores every row of the page (CheckNodesInThread).
    void tv_FilesTreeChecked(TVirtualStringTree *Sender, PVirtualNode Node);
    // Stores NewState on every child row of Node in a CheckingThread under the wait window.
    void CheckNodesInThread(TVirtualStringTree *FolderTree, TVirtualStringTree *FilesTree, PVirtualNode Node,
                            TCheckState NewState);
    // The comment box gains or loses the focus; leaving it stores the comment of the item it shows.
    void mem_CommentsEnter(QObject *Sender);
    void mem_CommentsExit(QObject *Sender);
    // The item whose comment the box shows and edits (none: the box edits nothing). The unloading
    // never frees it.
    const TDirectoryList *CommentItem() const { return FCommentItem; }
    // Stores the box's text as CommentItem's comment when it was edited since the box was filled or
    // last stored (the placeholder never is). Runs before anything changes what the box shows or
    // frees its item: focus changes, searches and pages, unloading, saving, closing the report.
    void StoreComment();
    // Binds the file list's checking event (also the re-attaching after a detachment).
    void AttachFilesTreeChecking();

    // ---- Searches and result pages (MainSearch.cpp)
    // Searches the open report by the names in edit_Search (";" or "," between them, "*" any text),
    // counts the matches and shows the first page. Nothing without a report.
    void tb_FastSearchClick();
    // Opens the search dialog on the focused folder and, on OK, runs its statement as the fast search
    // does, with its page size from then on. Nothing without a report.
    void tb_FullSearchClick();
    // The next page of SearchStmt's rows under a new "Select all" root, fetched by
    // TThread_ContinueSearch under the wait window; the page it replaces is freed.
    void mi_MoreResultsClick();
    void btn_MoreResultsClick();
    // Keys of edit_Search and mem_Comments (Key is Qt's key code; 0 when used up): Enter in edit_Search
    // searches, Ctrl+A selects all, Ctrl+Backspace and Ctrl+Delete delete a word (KeyPress).
    void edit_SearchKeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift);
    void edit_SearchKeyPress(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift);
    // The page's worker found a checked row, an unchecked one, the statement's end.
    void WMSearchFoundChecked();
    void WMSearchFoundUnchecked();
    void WMSearchNoMoreResults();

    // ---- Saving and exporting (MainSave.cpp)
    // Commits the ticks and comments to the report; a new working transaction begins at once.
    void tb_SaveButtonClick();
    // Saves, writes the export file beside the report under the wait window and offers its folder;
    // tb_ExportFileName then shows the file's path. A failure shows its message instead.
    void tb_ExportBaseClick();
    // Offers the last export's folder again; hides the button when that file has gone.
    void tb_ExportFileNameClick();

    // ---- TDecompressHost: what unpacking needs of this window
    QObject *MainHandle() override { return this; }
    int GetDecompressFailed() const override { return decompressFailed; }
    void SetDecompressFailed(int Value) override { decompressFailed = static_cast<uint8_t>(Value); }
    QObject *CreateDecompressWaitForm(const QString &Text) override;
    void ShowDecompressWaitForm(QObject *WaitForm) override;

    // ---- State of an opening (Main.cpp and MainOpen.cpp; public so tests can look at it)
    // 1: unpacking failed (cleared by DecompressReport before it unpacks, set by WMDecompressError).
    uint8_t decompressFailed = 0;
    // The path of a drop while tb_OpenBaseClick runs for it; none otherwise.
    std::optional<QString> droppedFileName;
    // 1: tb_OpenBaseClick asks the open dialog; 0: it takes droppedFileName.
    uint8_t useOpenDialog = 1;

    // ---- Components (the window owns them all)
    // Main tool bar (images from il_NavigationImList, 24x24).
    QToolBar *tbar_MainToolBar;
    QToolButton *tb_OpenBase;
    QToolButton *tb_SaveButton;
    QToolButton *tb_ExportBase;
    QAction *ToolButton1; // separators
    QAction *ToolButton4;
    QWidget *tbar_OpenFolder; // holds tb_ExportFileName, hidden until an export is written
    QToolButton *tb_ExportFileName;

    // Main panel: folder tree | Splitter2 | file list.
    QWidget *p_MainPanel;
    QGroupBox *gb_FoldersTree;
    TVirtualStringTree *tv_FolderTree; // Tag 0
    TVirtualTreeView *tv_FolderTreeView;
    QSplitter *Splitter2; // its first handle sits at the right edge of gb_FoldersTree
    QGroupBox *gb_ViewFiles;
    QToolBar *tbar_FolderToolBar;
    QToolButton *tb_Prev;
    QToolButton *tb_Next;
    QToolButton *tb_Up;
    QAction *ToolButton2; // separators
    QAction *ToolButton3;
    QLineEdit *edit_Search;
    QToolButton *tb_FastSearch;
    QToolButton *tb_FullSearch;
    TVirtualStringTree *tv_FilesTree; // Tag 1
    TVirtualTreeView *tv_FilesTreeView;
    QGroupBox *gb_MoreResults;
    QLabel *lbl_Founded;
    QLabel *lbl_FoundedCount;
    QLabel *lbl_Shown;
    QLabel *lbl_ShownCount;
    QPushButton *btn_MoreResults;

    // Bottom: Splitter1 (main panel above, information panel below).
    QSplitter *Splitter1;
    QWidget *gb_InfoGroupBox;
    QTabWidget *pc_Information; // tabs at the bottom
    QWidget *ts_Information;
    QPlainTextEdit *mem_Comments;
    QLabel *lbl_TxtSize;
    QLabel *lbl_sizeLabel;
    QWidget *ts_About;
    QLabel *lbl_Prod;
    QLabel *lbl_Ver;
    QLabel *lbl_Holder;
    QLabel *lbl_Develop;
    QLabel *lbl_ProdInfo;
    QLabel *lbl_VerInfo;
    QLabel *lbl_HolderInfo;
    QLabel *lbl_DevelopInfo;
    QLabel *im_Logo;
    QPlainTextEdit *mem_AdditionalInfo;
    TStatusBar *sb_InfoStatusBar; // panels 100, 50, 1015; the first owner-drawn
    QProgressBar *mainProgressBar;

    // Not visible.
    TSystemImageList il_SystemImList;     // the shell's small icons, shared
    TImageList *il_IconsImList = nullptr; // the trees' icons; a new one for each opening
    TImageList *il_NavigationImList;      // the tool bars' glyphs, 24x24
    QMenu *pm_FilesTreePopupMenu;
    QAction *mi_MoreResults;
    QAction *mi_GoToFolder;
    // Made at its first use: a file dialog watches its folder, and a log line written there would
    // have it read the folder again on this thread.
    QFileDialog *dlg_OpenBase = nullptr;
    QFileDialog *OpenBaseDialog();

protected:
    bool event(QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dropEvent(QDropEvent *e) override;
    void moveEvent(QMoveEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    void Create(const QStringList &Arguments);
    // Runs one worker under the shared wait window. The trees' update (First, Second; none when First is
    // null) is taken before anything that may raise. Prepare creates the worker into Worker (none: nothing
    // runs) and readies what it needs; a worker never started is deleted. AfterRun follows the modal wait;
    // BeforeClose runs on every way out. Both come before the window closes and the trees leave the update.
    void RunInWaitForm(const QString &Text, TVirtualStringTree *First, TVirtualStringTree *Second,
                       const std::function<void(TWaitForm *Wait, TThread *&Worker)> &Prepare,
                       const std::function<void()> &AfterRun = {},
                       const std::function<void()> &BeforeClose = {});
    // The destructor's work, also for a window whose creation failed after its components were built.
    void Release();
    // Builds every component with its design-time values (MainLayout.cpp).
    void BuildComponents();
    // The tool bars' glyphs into il_NavigationImList (MainLayout.cpp).
    void PaintNavigationImages();
    // btn_MoreResults 3 pixels from gb_MoreResults' right edge (MainLayout.cpp).
    void PlaceMoreResultsButton();
    // Sizes of the two panels at the splitters; the window's layout is brought up to date first.
    void SetInfoPanelHeight(int Height);
    void SetFoldersPanelWidth(int Width);
    // Notes the bounds while the window is in the normal state.
    void NoteNormalBounds();
    // Finalizes and frees the running search statement, when there is one.
    void FreeSearchStmt();
    // Empties both trees and frees the report's items (the root item frees those below it).
    void FreeReportItems();
    // Empties the file list; a result page's items go with it (MainSearch.cpp).
    void ClearFilesTree();
    // Prepares Sql as the new SearchStmt with Params bound in order, counts its rows into
    // lbl_FoundedCount and leaves it at its end; the count (MainSearch.cpp).
    int64_t PrepareSearch(const std::string &Sql, const QStringList &Params);
    // The search box's and the comment box's keys, the paging controls (MainSearch.cpp).
    void ConnectSearch();
    // The root item of the result page on show; it owns the page's row items.
    TDirectoryList *FResultPage = nullptr;
    // The file list's and the status bar's events, the folder tree's focus and resize (MainFileList.cpp).
    void ConnectFileList();
    // The trees' tick, mouse and key events and the comment box's focus (MainChecks.cpp).
    void ConnectChecks();
    // The comment box: stores what was typed for the item it showed, then shows and edits Item's
    // comment in the window-text colour, or the grey placeholder.
    void ShowItemComment(TDirectoryList *Item);
    // Text (none: the placeholder, unless the box has the focus) into the comment box; binds nothing.
    void PutCommentText(const QString *Text);
    // The box's item goes (its edit stored first): the box shows the placeholder and edits nothing.
    void UnbindComment();
    // The box edits Item's comment from now on; bound to none it takes no text.
    void BindComment(TDirectoryList *Item);
    // A comment of the item ID was stored: every loaded record of it and every row showing one marks it
    // as Has says.
    void ShowCommentMark(int64_t ID, bool Has);
    TDirectoryList *FCommentItem = nullptr;
    QString FCommentShown;           // the item's comment as the box was filled or last stored
    bool FCommentPlaceholder = true; // the box shows the placeholder, which is no text of the user's
    // A folder-tree tick stored by the user: the file list's rows take the new states at the tree's
    // first checked event.
    bool FRowsStale = false;
    // The file list's rows show their items' states: a folder's rows as the folder tree shows them,
    // a result page's as the report holds them (Except left alone; the root worked out again unless
    // Except is set, whose own change does that).
    void ShowRowStates(PVirtualNode Except = nullptr);
    // After a failed save rolled the report back: both trees and the comment box show what it holds.
    void ShowReportState();
    // Repaints the status bar, with the deleted mark at its left when Item is deleted.
    void ShowDeletedMark(const TDirectoryList *Item);
    // CurrentItem goes (its item is freed): the size label and the status bar show no item.
    void ForgetCurrentItem();
    // The status bar's first panel shows the deleted mark.
    bool FStatusShowsDeleted = false;

    // The save of both buttons: True when the changes reached the file. On a failure its message is
    // shown and ReportDB is still in a working transaction, which holds the changes unless the
    // message says they were lost.
    bool CommitWork();

    // Navigation's events and buttons (MainNavigation.cpp).
    void ConnectNavigation();
    // tb_Prev and tb_Next enabled exactly when the current history entry has a previous or next one.
    void UpdateHistoryButtons();
    void StepHistory(THistoryItem *Entry);
    // Loads each folder from the report's root down to the item ID (its own node too) and gives the
    // item's folder-tree node; null when a level holds no such child.
    PVirtualNode LoadPathTo(int64_t ID);
    // Follows the loaded items from the report's root down to the item ID, calling Step (when given) on
    // each item on the way, the item's own too; Step may load the item's children, and False from it
    // ends the walk. The item; null when a level holds no such child.
    TDirectoryList *FollowPathTo(int64_t ID, const std::function<bool(TDirectoryList *)> &Step = {});
    // Focuses and selects Node, opening the folders above it; whether the focus moved.
    bool FocusFolder(PVirtualNode Node);
    // As FocusFolder, and the file list shows the folder's contents even when it held a result page.
    void ShowFolder(PVirtualNode Node);

    // The window's top-left corner (frame included) and client size in the normal state: what is
    // saved while it is maximized.
    QRect FNormalBounds;
    // A failed folder load of the open report has been shown; the next ones are only logged.
    bool FFolderLoadFailureShown = false;
    // The window's status-bar panel drawing and the developer label's click.
    bool eventFilter(QObject *Watched, QEvent *e) override;
};

// The program's main window, built as TMainForm(nullptr, Arguments). When its creation raises, the
// error's message is shown in a box and there is no window.
std::unique_ptr<TMainForm> CreateMainForm(const QStringList &Arguments);

// ---- State of the unit Main, one of each for the process
extern TMainForm *MainForm;
// The open report's working connection; a transaction is always open on it. None without a report.
extern sqlite3 *ReportDB;
// The file that ReportDB's path named when the report was opened for work.
extern TFileId ReportFile;
// Raises Exception with ReportGoneText when ReportDB's path no longer names ReportFile; unless Closing,
// its message also says what becomes of the changes not saved.
void CheckOpenReport(bool Closing = false);
// Path of the current report; empty without one.
extern QString baseName;
// Rows per page of search results.
extern int32_t SearchPageSize;
// The running search statement's cell, or none.
extern sqlite3_stmt **SearchStmt;
extern THistoryItem *HistoryCurrent;
// The focused folder or file whose comment and size are shown.
extern TDirectoryList *CurrentItem;
extern PVirtualNode LastClickedNode;
extern bool UserCheckAction;
extern bool MouseDownPending;
extern bool CheckChanged;
extern bool SearchMode;
extern bool NavigatingHistory;
extern int32_t RightClickX;
extern int32_t RightClickY;
extern TFreeMemThread *FreeMemThread;
extern bool FoundCheckedFlag;
extern bool FoundUncheckedFlag;
// Ids touched by one tick operation; made on first use.
extern TInt64List *CheckedIDs;
// Writes the stored states into Tree's loaded nodes on the path that List holds (as SetCheckRecursive
// leaves it: the ticked id first, -1 last when the change reached the root), and a ticked item's
// checked or unchecked state into its loaded descendants. Raises no events.
void RefreshCheckStates(TInt64List &List, TVirtualStringTree *Tree, sqlite3 *DB);
// Opens a folder in the desktop's file manager in place of QDesktopServices::openUrl (tests record
// it); an empty hook restores that default.
void SetOpenFolderHook(std::function<void(const QUrl &)> Hook);
// WaitForm, the shared wait window, is declared in viewer/ufWaitForm.h.
