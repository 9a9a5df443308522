// The fast and the full search, the result pages that both show, and the editing keys that
// the search box shares with the comment box.
#include "viewer/Main.h"

#include "common/ssDlgExtW.h"
#include "report/uDirectoryList.h"
#include "report/uExtraFunctions.h"
#include "report/uSQLiteFunc.h"
#include "viewer/ufSearchForm.h"
#include "viewer/ufWaitForm.h"
#include "viewer/utContinueSearchThread.h"

#include <QAction>
#include <QDateTime>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QToolButton>
#include <sqlite3.h>

namespace {

const QString FastSearchSql = QStringLiteral(
    "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, F_UPDATE, F_ACCESS, "
    "F_FLAGS, F_CHILDREN_SIZE FROM  struct_drive_table as sdt    WHERE (sdt.F_NAME  %s );           ");

bool IsWordDelimiter(QChar C)
{
    static const QString delimiters = QStringLiteral(" !#$%&(),-.;@^");
    return delimiters.contains(C);
}

void SetLabelText(QLabel *Label, const QString &Text)
{
    Label->setText(Text);
    Label->adjustSize();
}

// The text and caret of the two kinds of box the keys serve.
struct TEditText
{
    QString Text;
    int Caret = 0;
};

TEditText ReadEdit(QObject *Box)
{
    if (auto *line = qobject_cast<QLineEdit *>(Box))
        return {line->text(), line->cursorPosition()};
    auto *memo = static_cast<QPlainTextEdit *>(Box);
    return {memo->toPlainText(), memo->textCursor().position()};
}

void WriteEdit(QObject *Box, const TEditText &Edit)
{
    if (auto *line = qobject_cast<QLineEdit *>(Box)) {
        line->setText(Edit.Text);
        line->setCursorPosition(Edit.Caret);
        return;
    }
    auto *memo = static_cast<QPlainTextEdit *>(Box);
    memo->setPlainText(Edit.Text);
    QTextCursor cursor = memo->textCursor();
    cursor.setPosition(Edit.Caret);
    memo->setTextCursor(cursor);
}

// Hands the boxes' key presses to the window's key handlers before the box's own editing sees them.
class TEditKeys : public QObject
{
public:
    TEditKeys(TMainForm *Form) : QObject(Form), FForm(Form) {}

protected:
    bool eventFilter(QObject *Watched, QEvent *e) override
    {
        if (e->type() != QEvent::KeyPress)
            return false;
        auto *key = static_cast<QKeyEvent *>(e);
        int code = key->key();
        FForm->edit_SearchKeyDown(Watched, code, key->modifiers());
        // Ctrl+Backspace reaches the key-press handler as its character would.
        if (code == Qt::Key_Backspace)
            FForm->edit_SearchKeyPress(Watched, code, key->modifiers());
        return code == 0;
    }

private:
    TMainForm *FForm;
};

} // namespace

void TMainForm::ConnectSearch()
{
    auto *keys = new TEditKeys(this);
    edit_Search->installEventFilter(keys);
    mem_Comments->installEventFilter(keys);
    connect(tb_FastSearch, &QToolButton::clicked, this, [this] { tb_FastSearchClick(); });
    connect(tb_FullSearch, &QToolButton::clicked, this, [this] { tb_FullSearchClick(); });
    connect(btn_MoreResults, &QPushButton::clicked, this, [this] { btn_MoreResultsClick(); });
    connect(mi_MoreResults, &QAction::triggered, this, [this] { mi_MoreResultsClick(); });
}

void TMainForm::ClearFilesTree()
{
    tv_FilesTree->Clear();
    TDirectoryList *page = FResultPage;
    if (!page)
        return;
    FResultPage = nullptr;
    if (CurrentItem == page)
        ForgetCurrentItem();
    for (TDirectoryList *row : page->GetChildren()) {
        if (CurrentItem == row)
            ForgetCurrentItem();
        if (FCommentItem == row)
            UnbindComment();
    }
    LastClickedNode = nullptr;
    delete page;
}

void TMainForm::tb_FastSearchClick()
{
    if (!ReportDB)
        return;
    SearchMode = true;
    QStringList terms;
    SplitWideString(ReplaceWideChar(edit_Search->text(), QLatin1Char('*'), QLatin1Char('%')),
                    {QLatin1Char(';'), QLatin1Char(',')}, terms);
    QString condition = QStringLiteral(" like ? or sdt.F_NAME").repeated(terms.size());
    condition.chop(14);
    QString sql = FastSearchSql;
    sql.replace(QStringLiteral("%s"), condition);

    tv_FilesTree->BeginUpdate();
    {
        const auto endUpdate = qScopeGuard([this] { tv_FilesTree->EndUpdate(); });
        ClearFilesTree();
    }
    PrepareSearch(WideToUtf8(sql), terms);
    SetLabelText(lbl_ShownCount, QStringLiteral("0"));

    tv_FilesTree->BeginUpdate();
    tv_FilesTree->OnChecking = nullptr;
    const auto endUpdate = qScopeGuard([this] {
        tv_FilesTree->EndUpdate();
        AttachFilesTreeChecking();
    });
    btn_MoreResultsClick();
}

int64_t TMainForm::PrepareSearch(const std::string &Sql, const QStringList &Params)
{
    FreeSearchStmt();
    SearchStmt = new sqlite3_stmt *(nullptr);
    sqlite3_prepare_v2(ReportDB, Sql.c_str(), -1, SearchStmt, nullptr);
    for (int i = 0; i < Params.size(); ++i)
        BindUtf8Text(*SearchStmt, i + 1, WideToUtf8(Params[i]));
    int64_t count = 0;
    // Left at its end: the first page's step starts it again.
    while (sqlite3_step(*SearchStmt) == SQLITE_ROW)
        ++count;
    SetLabelText(lbl_FoundedCount, QString::number(count));
    return count;
}

void TMainForm::tb_FullSearchClick()
{
    if (!ReportDB || !SearchForm)
        return;
    if (PVirtualNode focused = tv_FolderTree->FocusedNode()) {
        TDirectoryList *folder = GetNodeItem(focused, tv_FolderTree);
        SearchForm->lbl_FolderName->setText(folder->name);
        SearchForm->lbl_FolderName->adjustSize();
        SearchForm->FolderID = folder->id;
    } else {
        SearchForm->FolderID = -1;
    }
    SearchForm->SearchDB = ReportDB;
    if (SearchForm->exec() != QDialog::Accepted)
        return;
    SetLabelText(lbl_ShownCount, QStringLiteral("0"));
    SearchMode = true;
    const int64_t count = PrepareSearch(SearchForm->SearchSQL, SearchForm->SearchParams);
    // The dialog gives a readable limit; a page of 0 rows would skip a result with each page.
    bool readable = false;
    const int limit = SearchForm->edit_SearchLimit->text().toInt(&readable);
    SearchPageSize = readable && limit > 0 ? limit : 1000;
    if (count == 0)
        WideMessageDlg(QStringLiteral("Files with current parameters were not found"), mtInformation,
                       mbOKOnly);
    tv_FilesTree->BeginUpdate();
    const auto endUpdate = qScopeGuard([this] { tv_FilesTree->EndUpdate(); });
    mi_MoreResultsClick();
}

void TMainForm::btn_MoreResultsClick()
{
    mi_MoreResultsClick();
}

void TMainForm::mi_MoreResultsClick()
{
    // After the last page the statement is gone: nothing is left to page through.
    if (!ReportDB || !SearchStmt)
        return;
    PVirtualNode root = nullptr;
    RunInWaitForm(
        QStringLiteral("Search"), tv_FilesTree, nullptr,
        [this, &root](TWaitForm *Wait, TThread *&Worker) {
            ClearFilesTree();
            FoundCheckedFlag = false;
            FoundUncheckedFlag = false;
            const double now = QDateTimeToDateTime(QDateTime::currentDateTime());
            FResultPage = new TDirectoryList(QStringLiteral("Select all"), SearchRootID, SearchRootID, 0,
                                             false, false, 0, now, now, now);
            root = AddInTreeView(tv_FilesTree, nullptr, FResultPage);
            mi_MoreResults->setEnabled(true);
            Worker = new TThread_ContinueSearch(ReportDB, SearchStmt, tv_FilesTree, root, SearchPageSize,
                                                Wait, this);
        },
        [this, &root] {
            tv_FilesTree->SetExpanded(root, true);
            // The page's root stays open: the user cannot collapse it.
            tv_FilesTree->SetToggling(root, true);
            if (FoundCheckedFlag && FoundUncheckedFlag)
                root->CheckState = csMixedNormal;
            SortFilesTreeAsHeaderShows();
        });
    gb_MoreResults->show();
    btn_MoreResults->setEnabled(mi_MoreResults->isEnabled());

    bool isNumber = false;
    const QString shown = lbl_ShownCount->text();
    const qsizetype dash = shown.indexOf(QLatin1Char('-'));
    int64_t before = dash < 0 ? 0 : shown.mid(dash + 1).trimmed().toLongLong(&isNumber);
    if (!isNumber)
        before = 0;
    const int64_t total = tv_FilesTree->TotalCount();
    SetLabelText(lbl_ShownCount, total == 1 ? QStringLiteral("0 - 0")
                                            : QString::number(before + 1) + QStringLiteral(" - ") +
                                                  QString::number(before + total - 1));
    if (!mi_MoreResults->isEnabled())
        FreeSearchStmt();
}

void TMainForm::WMSearchFoundChecked()
{
    FoundCheckedFlag = true;
}

void TMainForm::WMSearchFoundUnchecked()
{
    FoundUncheckedFlag = true;
}

void TMainForm::WMSearchNoMoreResults()
{
    mi_MoreResults->setEnabled(false);
}

void TMainForm::edit_SearchKeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift)
{
    if (Sender == edit_Search && (Key == Qt::Key_Return || Key == Qt::Key_Enter))
        tb_FastSearchClick();
    if (!(Shift & Qt::ControlModifier))
        return;
    if (Key == Qt::Key_A) {
        if (auto *line = qobject_cast<QLineEdit *>(Sender))
            line->selectAll();
        else if (auto *memo = qobject_cast<QPlainTextEdit *>(Sender))
            memo->selectAll();
        Key = 0;
    } else if (Key == Qt::Key_Delete) {
        edit_SearchKeyPress(Sender, Key, Shift);
    }
}

void TMainForm::edit_SearchKeyPress(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift)
{
    const bool back = Key == Qt::Key_Backspace;
    auto *line = qobject_cast<QLineEdit *>(Sender);
    auto *memo = qobject_cast<QPlainTextEdit *>(Sender);
    // A read-only box (the comment box bound to no item) takes no edit.
    if (!(Shift & Qt::ControlModifier) || !(back || Key == Qt::Key_Delete) || !(line || memo) ||
        (line ? line->isReadOnly() : memo->isReadOnly()))
        return;
    TEditText edit = ReadEdit(Sender);
    const QString &s = edit.Text;
    const int length = static_cast<int>(s.size());
    const int caret = edit.Caret;
    // Positions count from 1; the character just left of the caret is never tested.
    int p = caret;
    do
        p += back ? -1 : 1;
    while (!(p < 1 || p > length - 1 || IsWordDelimiter(s[p - 1])));
    if (back) {
        const QString kept = p < 1 ? QString() : TrimRightSpaces(s.left(p));
        edit = {kept + s.mid(caret), static_cast<int>(kept.size())};
    } else {
        edit = {s.left(caret) + TrimLeftSpaces(s.mid(p)), caret};
    }
    WriteEdit(Sender, edit);
    Key = 0;
}
