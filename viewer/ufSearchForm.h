#pragma once
// The extended search dialog. One instance, SearchForm, made at program start right after the main
// window; it lives until the program ends and keeps its settings between uses (only the deleted filter
// and the folder scope return to "all" at each show).
//
// The main window sets lbl_FolderName, FolderID and SearchDB, shows the dialog modally (exec) and, on
// Accepted, prepares SearchSQL, binds SearchParams to its "?" in order and takes the page size from
// edit_SearchLimit.
#include <QDialog>
#include <QStringList>
#include <cstdint>
#include <string>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QPushButton;
struct sqlite3;

// One date range of lb_Dates; the list entry owns it.
class TStartEndDate
{
public:
    TStartEndDate(uint8_t ADateType, double AStartDate, double AEndDate)
        : StartDate(AStartDate), EndDate(AEndDate), DateType(ADateType)
    {
    }
    double StartDate; // date-time values (days since 30 December 1899)
    double EndDate;
    uint8_t DateType; // 0 created, 1 changed, 2 opened
};

class TSearchForm : public QDialog
{
    Q_OBJECT
public:
    explicit TSearchForm(QWidget *Owner = nullptr);

    // The statement of the last OK: plain ASCII, conditions as literals, names as "?" parameters.
    std::string SearchSQL;
    // One LIKE pattern per "?" of SearchSQL, include names first. Rebuilt only when the name search is on.
    QStringList SearchParams;
    // The focused folder's id, -1 without one (also the report root's id).
    int64_t FolderID = -1;
    // The open report, used only to collect subfolder ids.
    sqlite3 *SearchDB = nullptr;

    // The date range an entry of lb_Dates carries; null outside the list.
    TStartEndDate *DateRange(int Row) const;

    QFrame *pan_MainPanel;
    QGroupBox *gb_FileName;
    QCheckBox *chb_UseName;
    QLabel *lbl_SearshInclude;
    QLineEdit *edit_AddName;
    QPushButton *btn_AddName;
    QListWidget *lb_AddName;
    QLabel *lbl_SearshExclude;
    QLineEdit *edit_DelName;
    QPushButton *btn_DelName;
    QListWidget *lb_DelName;

    QGroupBox *gb_Date;
    QCheckBox *chb_UseDate;
    QComboBox *cb_TypeDate; // item data: the date kind
    QLabel *lbl_FromDateText;
    QDateEdit *dtp_Start;
    QLabel *lbl_ToDateText;
    QDateEdit *dtp_Finish;
    QPushButton *btn_AddTime;
    QListWidget *lb_Dates;

    QGroupBox *gb_Size;
    QCheckBox *chb_UseSize;
    QLabel *lbl_MoreThan;
    QLineEdit *edit_MinSize;
    QComboBox *cb_CapMinComboBox;
    QLabel *lbl_LessThan;
    QLineEdit *edit_MaxSize;
    QComboBox *cb_CapMaxComboBox;

    QGroupBox *gb_Extra;
    QLabel *lbl_SearchDeleted;
    QComboBox *cb_Deleted;
    QLabel *lbl_InFolder;
    QComboBox *cb_Folder;
    QLabel *lbl_CurrentFolder;
    QLabel *lbl_FolderName;

    QLineEdit *edit_SearchLimit;
    QLabel *lbl_SearchLimit;
    QPushButton *bb_CancelBitBtn;
    QPushButton *bb_OkBitBtn;

    QMenu *pm_PopupMenu1;
    QAction *btn_deletePopUpBtn;

    // The handlers, public so that the main window and the tests reach them as the user would.
    void InitCaptions();
    void btn_AddNameClick();
    void btn_DelNameClick();
    // Text: the typed character. Key: a Qt key code.
    void edit_AddNameKeyPress(const QString &Text);
    void edit_AddNameChange();
    void edit_AddNameKeyUp(QLineEdit *Sender, int Key);
    void lb_AddNameKeyDown(QListWidget *Sender, int Key);
    void lb_AddNameMouseDown(QListWidget *Sender, Qt::MouseButton Button, const QPoint &Pos);
    void btn_AddTimeClick();
    void lb_DatesKeyDown(int Key);
    void lb_DatesMouseDown(Qt::MouseButton Button, const QPoint &Pos);
    void dtp_StartChange();
    void edit_MinSizeChange();
    void edit_SearchLimitExit();
    void btn_deletePopUpBtnClick();
    // Builds SearchSQL and SearchParams from the controls.
    void bb_OkBitBtnClick();

protected:
    void showEvent(QShowEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void FormCreate();
    void MoveNameEdit(QLineEdit *Edit, QListWidget *List);
    void UntickNameIfEmpty();
    int FPopupTag = 0; // the list the popup was opened on: 0 lb_AddName, 1 lb_DelName, 2 lb_Dates
};

extern TSearchForm *SearchForm;
