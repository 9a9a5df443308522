#include "viewer/Main.h"

#include "viewer/ufWaitForm.h"

#include <QCoreApplication>

TMainForm *MainForm = nullptr;
sqlite3 *ReportDB = nullptr;
QString baseName;
int32_t SearchPageSize = 1000;
sqlite3_stmt **SearchStmt = nullptr;
THistoryItem *HistoryCurrent = nullptr;
TDirectoryList *CurrentItem = nullptr;
PVirtualNode LastClickedNode = nullptr;
bool UserCheckAction = false;
bool MouseDownPending = false;
bool CheckChanged = false;
bool SearchMode = false;
bool NavigatingHistory = false;
int32_t RightClickX = 0;
int32_t RightClickY = 0;
TFreeMemThread *FreeMemThread = nullptr;
bool FoundCheckedFlag = false;
bool FoundUncheckedFlag = false;
TInt64List *CheckedIDs = nullptr;

TMainForm::TMainForm(QWidget *Owner) : TMainForm(Owner, QCoreApplication::arguments()) {}

TMainForm::TMainForm(QWidget *Owner, const QStringList &Arguments) : QMainWindow(Owner)
{
    MainForm = this;
    Create(Arguments);
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::Create(const QStringList &Arguments)
{
    (void)Arguments;
    setWindowTitle(QStringLiteral("Parvix Viewer"));
}

bool TMainForm::event(QEvent *e)
{
    return QMainWindow::event(e);
}

void TMainForm::closeEvent(QCloseEvent *e)
{
    QMainWindow::closeEvent(e);
}

void TMainForm::dragEnterEvent(QDragEnterEvent *e)
{
    QMainWindow::dragEnterEvent(e);
}

void TMainForm::dropEvent(QDropEvent *e)
{
    QMainWindow::dropEvent(e);
}

bool TMainForm::eventFilter(QObject *Watched, QEvent *e)
{
    return QMainWindow::eventFilter(Watched, e);
}

QObject *TMainForm::CreateDecompressWaitForm(const QString &Text)
{
    return new TWaitForm(this, Text);
}

void TMainForm::ShowDecompressWaitForm(QObject *Form)
{
    if (auto *w = qobject_cast<TWaitForm *>(Form))
        w->WMShowModal();
}
