#include "viewer/ufSearchForm.h"

#include "common/ssDlgExtW.h"
#include "common/ssListTypes.h"
#include "report/uExtraFunctions.h"
#include "report/uSQLiteFunc.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>
#include <charconv>
#include <limits>
#include <memory>
#include <vector>

TSearchForm *SearchForm = nullptr;

namespace {

constexpr int FormWidth = 529;
constexpr int FormHeight = 507;
constexpr int PanelBorder = 5;
constexpr int FileNameHeight = 137;
constexpr int DateHeight = 137;
constexpr int SizeHeight = 81;
constexpr int ExtraHeight = 102;
constexpr int DefaultPageSize = 1000;
constexpr int WarnPageSize = 3000;

const char *const BaseSql =
    "SELECT ID_FILE, ID_PARENT, IS_FOLDER, IS_DELETED, F_NAME, F_SIZE, F_ATTR, F_CREATE, "
    "F_UPDATE, F_ACCESS, F_FLAGS, F_CHILDREN_SIZE FROM struct_drive_table WHERE( ";
const char *const DateColumns[] = {"F_CREATE", "F_UPDATE", "F_ACCESS"};

// An entry of lb_Dates together with the range it owns.
class TDateItem : public QListWidgetItem
{
public:
    TDateItem(const QString &Text, const TStartEndDate &Range) : QListWidgetItem(Text), Range(Range) {}
    TStartEndDate Range;
};

template <class T> T *Named(T *Object, const char *Name)
{
    Object->setObjectName(QString::fromLatin1(Name));
    return Object;
}

// Reads the whole of Text as a decimal number of type T; false for an empty or partly read text.
template <class T> bool ReadWhole(const QString &Text, T &Value)
{
    const std::string s = Text.toStdString();
    const char *end = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(s.data(), end, Value);
    return !s.empty() && ec == std::errc() && ptr == end;
}

// Value times the unit of the unit box's Index (1024 to that power), held at the 64-bit limits
// instead of wrapping, so that an overlong bound stays on the side the user meant.
int64_t SizeBound(int64_t Value, int Index)
{
    const int64_t multiplier = int64_t(1) << (10 * std::clamp(Index, 0, 3));
    int64_t result;
    if (__builtin_mul_overflow(Value, multiplier, &result))
        return Value < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    return result;
}

// The column's times of either layout from the first second of Start's day to the last of End's.
// ReportTimeIn decides; the ranges beside it let an index on the column find the rows: the year-month-day
// texts of the days, and the day.month.year texts, which sort by their day ahead of, between and after
// the year-month-day texts of the years 1900 to 2099 (for a range of a few days, by their whole day).
// ReportTimeIn stands first, so that a search without that index reads each row once; inside the
// day.month.year ranges it sorts out their rows on the index, before they are looked up.
void AppendDateRange(std::string &Sql, int Kind, double Start, double End)
{
    constexpr int FewDays = 7;
    const std::string column = DateColumns[std::clamp(Kind, 0, 2)];
    const std::string from = "\"" + DateToReportStr(Start) + " 00:00:00\"";
    const std::string to = "\"" + DateToReportStr(End) + " 23:59:59\"";
    const std::string test = "ReportTimeIn(" + column + ", " + from + ", " + to + ")";
    std::vector<std::string> ranges{"'01.' and '19/'", "'20.' and '20/'", "'21.' and '31/'"};
    const QDate first = DateTimeToQDateTime(Start).date(), last = DateTimeToQDateTime(End).date();
    if (first <= last && first.daysTo(last) < FewDays) {
        ranges.clear();
        for (QDate day = first; day <= last; day = day.addDays(1)) {
            const std::string text = day.toString(QStringLiteral("dd.MM.yyyy")).toStdString();
            ranges.push_back("'" + text + "' and '" + text + "~'");
        }
    }
    Sql += "(" + test + " and (" + column + " between " + from + " and " + to;
    for (const std::string &range : ranges)
        Sql += " or " + column + " between " + range + " and " + test;
    Sql += ")) and ";
}

// The pickers show four-digit years even where the short format has two, which the editor
// would otherwise read back into the wrong century.
QString PickerFormat()
{
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy")))
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return format;
}

QString ShortDate(const QDateEdit *Picker)
{
    return QLocale().toString(Picker->date(), QLocale::ShortFormat);
}

// A list's selected entry: its current row while that row is selected.
int SelectedRow(const QListWidget *List)
{
    const QListWidgetItem *item = List->currentItem();
    return item && item->isSelected() ? List->currentRow() : -1;
}

// Keys that carry a text but type no character into an edit.
bool IsNavigationKey(int Key)
{
    return Key == Qt::Key_Return || Key == Qt::Key_Enter || Key == Qt::Key_Tab || Key == Qt::Key_Backtab ||
           Key == Qt::Key_Escape || Key == Qt::Key_Delete;
}

} // namespace

TSearchForm::TSearchForm(QWidget *Owner) : QDialog(Owner, Qt::Tool)
{
    setObjectName(QStringLiteral("SearchForm"));
    setModal(true);
    setFixedSize(FormWidth, FormHeight);

    pan_MainPanel = Named(new QFrame(this), "pan_MainPanel");
    pan_MainPanel->setGeometry(0, 0, FormWidth, FormHeight);
    const int groupWidth = FormWidth - 2 * PanelBorder;
    int top = PanelBorder;
    auto group = [&](const char *Name, int Height) {
        auto *box = Named(new QGroupBox(pan_MainPanel), Name);
        box->setGeometry(PanelBorder, top, groupWidth, Height);
        top += Height;
        return box;
    };
    // The "use" boxes stand on the group's top line, where a caption would be.
    auto useBox = [](QGroupBox *Box, const char *Name) {
        auto *check = Named(new QCheckBox(Box), Name);
        check->setAutoFillBackground(true);
        check->move(8, 0);
        return check;
    };
    auto label = [](QWidget *Parent, const char *Name, int X, int Y) {
        auto *l = Named(new QLabel(Parent), Name);
        l->move(X, Y);
        return l;
    };
    auto button = [](QWidget *Parent, const char *Name, const QString &Text, QRect Rect) {
        auto *b = Named(new QPushButton(Text, Parent), Name);
        b->setAutoDefault(false); // Enter belongs to the name edits, not to a default button
        b->setGeometry(Rect);
        return b;
    };
    auto list = [](QWidget *Parent, const char *Name, QRect Rect) {
        auto *l = Named(new QListWidget(Parent), Name);
        l->setGeometry(Rect);
        l->setSelectionMode(QAbstractItemView::SingleSelection);
        l->setContextMenuPolicy(Qt::CustomContextMenu);
        return l;
    };
    auto edit = [](QWidget *Parent, const char *Name, QRect Rect) {
        auto *e = Named(new QLineEdit(Parent), Name);
        e->setGeometry(Rect);
        return e;
    };
    auto combo = [](QWidget *Parent, const char *Name, QRect Rect) {
        auto *c = Named(new QComboBox(Parent), Name);
        c->setGeometry(Rect);
        return c;
    };
    const int half = groupWidth / 2;
    const int colWidth = half - 14;

    gb_FileName = group("gb_FileName", FileNameHeight);
    chb_UseName = useBox(gb_FileName, "chb_UseName");
    for (int col = 0; col < 2; ++col) {
        const int x = col == 0 ? 10 : half + 4;
        QLabel *caption = label(gb_FileName, col == 0 ? "lbl_SearshInclude" : "lbl_SearshExclude", x, 24);
        QLineEdit *e =
            edit(gb_FileName, col == 0 ? "edit_AddName" : "edit_DelName", {x, 42, colWidth - 30, 24});
        QPushButton *b = button(gb_FileName, col == 0 ? "btn_AddName" : "btn_DelName", QStringLiteral("+"),
                                {x + colWidth - 26, 42, 26, 24});
        QListWidget *l = list(gb_FileName, col == 0 ? "lb_AddName" : "lb_DelName", {x, 70, colWidth, 60});
        (col == 0 ? lbl_SearshInclude : lbl_SearshExclude) = caption;
        (col == 0 ? edit_AddName : edit_DelName) = e;
        (col == 0 ? btn_AddName : btn_DelName) = b;
        (col == 0 ? lb_AddName : lb_DelName) = l;
    }

    gb_Date = group("gb_Date", DateHeight);
    chb_UseDate = useBox(gb_Date, "chb_UseDate");
    cb_TypeDate = combo(gb_Date, "cb_TypeDate", {10, 24, colWidth, 24});
    lbl_FromDateText = label(gb_Date, "lbl_FromDateText", 10, 60);
    lbl_ToDateText = label(gb_Date, "lbl_ToDateText", 10, 96);
    auto picker = [&](const char *Name, int Y) {
        auto *p = Named(new QDateEdit(gb_Date), Name);
        p->setCalendarPopup(true);
        p->setDisplayFormat(PickerFormat());
        p->setGeometry(60, Y, colWidth - 90, 24);
        return p;
    };
    dtp_Start = picker("dtp_Start", 56);
    dtp_Finish = picker("dtp_Finish", 92);
    btn_AddTime = button(gb_Date, "btn_AddTime", QStringLiteral("+"), {10 + colWidth - 26, 92, 26, 24});
    lb_Dates = list(gb_Date, "lb_Dates", {half + 4, 24, colWidth, 106});

    gb_Size = group("gb_Size", SizeHeight);
    chb_UseSize = useBox(gb_Size, "chb_UseSize");
    const QStringList units = {QStringLiteral("Byte"), QStringLiteral("KB"), QStringLiteral("MB"),
                               QStringLiteral("GB")};
    for (int col = 0; col < 2; ++col) {
        const int x = col == 0 ? 10 : half + 4;
        QLabel *caption = label(gb_Size, col == 0 ? "lbl_MoreThan" : "lbl_LessThan", x, 38);
        QLineEdit *e =
            edit(gb_Size, col == 0 ? "edit_MinSize" : "edit_MaxSize", {x + 80, 34, colWidth - 150, 24});
        QComboBox *c = combo(gb_Size, col == 0 ? "cb_CapMinComboBox" : "cb_CapMaxComboBox",
                             {x + colWidth - 66, 34, 66, 24});
        c->addItems(units);
        (col == 0 ? lbl_MoreThan : lbl_LessThan) = caption;
        (col == 0 ? edit_MinSize : edit_MaxSize) = e;
        (col == 0 ? cb_CapMinComboBox : cb_CapMaxComboBox) = c;
    }

    gb_Extra = group("gb_Extra", ExtraHeight);
    lbl_SearchDeleted = label(gb_Extra, "lbl_SearchDeleted", 10, 28);
    cb_Deleted = combo(gb_Extra, "cb_Deleted", {130, 24, 200, 24});
    lbl_InFolder = label(gb_Extra, "lbl_InFolder", 10, 54);
    cb_Folder = combo(gb_Extra, "cb_Folder", {130, 50, 280, 24});
    lbl_CurrentFolder = label(gb_Extra, "lbl_CurrentFolder", 10, 80);
    lbl_FolderName = label(gb_Extra, "lbl_FolderName", 130, 80);
    lbl_FolderName->setFixedWidth(groupWidth - 140);

    const int rowTop = top + 8;
    edit_SearchLimit = edit(pan_MainPanel, "edit_SearchLimit", {15, rowTop, 50, 24});
    edit_SearchLimit->setText(QString::number(DefaultPageSize));
    lbl_SearchLimit = label(pan_MainPanel, "lbl_SearchLimit", 70, rowTop + 4);
    // The platform's cancel caption and, where the style has them, its glyphs; a button box itself
    // would make OK the default button, which Enter must not press here.
    const QDialogButtonBox standard(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    bb_OkBitBtn = button(pan_MainPanel, "bb_OkBitBtn", QStringLiteral("OK"),
                         {FormWidth - PanelBorder - 190, rowTop - 1, 85, 28});
    bb_OkBitBtn->setIcon(standard.button(QDialogButtonBox::Ok)->icon());
    bb_CancelBitBtn =
        button(pan_MainPanel, "bb_CancelBitBtn", standard.button(QDialogButtonBox::Cancel)->text(),
               {FormWidth - PanelBorder - 95, rowTop - 1, 85, 28});
    bb_CancelBitBtn->setIcon(standard.button(QDialogButtonBox::Cancel)->icon());

    pm_PopupMenu1 = Named(new QMenu(this), "pm_PopupMenu1");
    btn_deletePopUpBtn =
        Named(pm_PopupMenu1->addAction(QStringLiteral("Удалить из списка")), "btn_deletePopUpBtn");

    connect(btn_AddName, &QPushButton::clicked, this, &TSearchForm::btn_AddNameClick);
    connect(btn_DelName, &QPushButton::clicked, this, &TSearchForm::btn_DelNameClick);
    for (QLineEdit *e : {edit_AddName, edit_DelName}) {
        connect(e, &QLineEdit::textChanged, this, &TSearchForm::edit_AddNameChange);
        e->installEventFilter(this);
    }
    for (QListWidget *l : {lb_AddName, lb_DelName, lb_Dates}) {
        l->installEventFilter(this);
        l->viewport()->installEventFilter(this);
        connect(l, &QListWidget::customContextMenuRequested, this,
                [this, l](const QPoint &Pos) { pm_PopupMenu1->popup(l->viewport()->mapToGlobal(Pos)); });
    }
    connect(btn_AddTime, &QPushButton::clicked, this, &TSearchForm::btn_AddTimeClick);
    for (QLineEdit *e : {edit_MinSize, edit_MaxSize}) {
        connect(e, &QLineEdit::textChanged, this, &TSearchForm::edit_MinSizeChange);
        e->installEventFilter(this);
    }
    edit_SearchLimit->installEventFilter(this);
    connect(btn_deletePopUpBtn, &QAction::triggered, this, &TSearchForm::btn_deletePopUpBtnClick);
    connect(bb_CancelBitBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(bb_OkBitBtn, &QPushButton::clicked, this, [this] {
        bb_OkBitBtnClick();
        accept();
    });

    FormCreate();
    // Connected after the first values, which are no user's change. The end date and the kind
    // count as a date setting as much as the start date does.
    connect(dtp_Start, &QDateEdit::dateChanged, this, &TSearchForm::dtp_StartChange);
    connect(dtp_Finish, &QDateEdit::dateChanged, this, &TSearchForm::dtp_StartChange);
    connect(cb_TypeDate, &QComboBox::activated, this, &TSearchForm::dtp_StartChange);
}

void TSearchForm::FormCreate()
{
    cb_CapMinComboBox->setCurrentIndex(1);
    cb_CapMaxComboBox->setCurrentIndex(1);
    cb_TypeDate->addItem(QStringLiteral("Created"), 0);
    cb_TypeDate->addItem(QStringLiteral("Changed"), 1);
    cb_TypeDate->addItem(QStringLiteral("Opened"), 2);
    cb_TypeDate->setCurrentIndex(1);
    const QDateTime now = QDateTime::currentDateTime();
    dtp_Start->setDateTime(now.addDays(-30));
    dtp_Finish->setDateTime(now);
    edit_SearchLimit->setText(QString::number(DefaultPageSize));
    chb_UseName->setChecked(false);
    chb_UseDate->setChecked(false);
    chb_UseSize->setChecked(false);
}

void TSearchForm::showEvent(QShowEvent *Event)
{
    InitCaptions();
    QDialog::showEvent(Event);
}

void TSearchForm::InitCaptions()
{
    setWindowTitle(QStringLiteral("Search"));
    auto caption = [](auto *Control, const char *Text) {
        Control->setText(QString::fromLatin1(Text));
        Control->adjustSize();
    };
    caption(chb_UseName, "Search by name");
    caption(lbl_SearshInclude, "Include in search:");
    caption(lbl_SearshExclude, "Exclude from search:");
    caption(chb_UseDate, "Search by date");
    caption(lbl_FromDateText, "From:");
    caption(lbl_ToDateText, "To:");
    caption(chb_UseSize, "Search by size");
    caption(lbl_MoreThan, "More than:");
    caption(lbl_LessThan, "Less than:");
    gb_Extra->setTitle(QStringLiteral("Extra settings"));
    caption(lbl_SearchDeleted, "Search in deleted:");
    caption(lbl_InFolder, "Folder:");
    caption(lbl_CurrentFolder, "Selected folder:");
    caption(lbl_SearchLimit, "- search results on page");
    cb_Deleted->clear();
    cb_Deleted->addItems(
        {QStringLiteral("All files"), QStringLiteral("Deleted files"), QStringLiteral("Not deleted files")});
    cb_Folder->clear();
    cb_Folder->addItems({QStringLiteral("In all folders"), QStringLiteral("In selected folder"),
                         QStringLiteral("In selected folder and all subfolders")});
    cb_Deleted->setCurrentIndex(0);
    cb_Folder->setCurrentIndex(0);
}

TStartEndDate *TSearchForm::DateRange(int Row) const
{
    auto *item = static_cast<TDateItem *>(lb_Dates->item(Row));
    return item ? &item->Range : nullptr;
}

// ---- names ----

void TSearchForm::MoveNameEdit(QLineEdit *Edit, QListWidget *List)
{
    if (Edit->text().isEmpty())
        return;
    chb_UseName->setChecked(true);
    QStringList parts;
    SplitWideString(Edit->text(), {QChar(u';'), QChar(u',')}, parts);
    List->addItems(parts);
    Edit->clear();
}

void TSearchForm::btn_AddNameClick()
{
    MoveNameEdit(edit_AddName, lb_AddName);
}

void TSearchForm::btn_DelNameClick()
{
    MoveNameEdit(edit_DelName, lb_DelName);
}

void TSearchForm::edit_AddNameKeyPress(const QString &Text)
{
    if (Text != QStringLiteral("\b") && Text != QStringLiteral("."))
        chb_UseName->setChecked(true);
}

void TSearchForm::UntickNameIfEmpty()
{
    if (lb_AddName->count() == 0 && lb_DelName->count() == 0 && edit_AddName->text().isEmpty() &&
        edit_DelName->text().isEmpty())
        chb_UseName->setChecked(false);
}

void TSearchForm::edit_AddNameChange()
{
    UntickNameIfEmpty();
}

void TSearchForm::edit_AddNameKeyUp(QLineEdit *Sender, int Key)
{
    if (Key != Qt::Key_Return && Key != Qt::Key_Enter)
        return;
    if (edit_AddName->text().isEmpty() && edit_DelName->text().isEmpty()) {
        bb_OkBitBtnClick();
        accept();
        return;
    }
    btn_AddNameClick();
    btn_DelNameClick();
    Sender->setFocus();
}

void TSearchForm::lb_AddNameKeyDown(QListWidget *Sender, int Key)
{
    const int row = SelectedRow(Sender);
    if (Key != Qt::Key_Delete || row < 0)
        return;
    delete Sender->takeItem(row);
    Sender->setCurrentRow(-1);
    UntickNameIfEmpty();
}

void TSearchForm::lb_AddNameMouseDown(QListWidget *Sender, Qt::MouseButton Button, const QPoint &Pos)
{
    if (Button != Qt::RightButton)
        return;
    if (QListWidgetItem *item = Sender->itemAt(Pos))
        Sender->setCurrentItem(item);
    FPopupTag = Sender == lb_AddName ? 0 : 1;
}

// ---- dates ----

void TSearchForm::btn_AddTimeClick()
{
    const int kindRow = cb_TypeDate->currentIndex();
    if (kindRow < 0)
        return;
    chb_UseDate->setChecked(true);
    const QString text = cb_TypeDate->currentText() + QStringLiteral(": ") + ShortDate(dtp_Start) +
                         QStringLiteral(" - ") + ShortDate(dtp_Finish);
    const TStartEndDate range(static_cast<uint8_t>(cb_TypeDate->itemData(kindRow).toInt()),
                              QDateTimeToDateTime(dtp_Start->dateTime()),
                              QDateTimeToDateTime(dtp_Finish->dateTime()));
    lb_Dates->addItem(new TDateItem(text, range));
    cb_TypeDate->removeItem(kindRow);
    cb_TypeDate->setCurrentIndex(0);
    if (cb_TypeDate->count() == 0)
        btn_AddTime->setEnabled(false);
}

void TSearchForm::lb_DatesKeyDown(int Key)
{
    const int row = SelectedRow(lb_Dates);
    if (Key != Qt::Key_Delete || row < 0)
        return;
    std::unique_ptr<TDateItem> item(static_cast<TDateItem *>(lb_Dates->takeItem(row)));
    lb_Dates->setCurrentRow(-1);
    cb_TypeDate->addItem(item->text().section(QChar(u':'), 0, 0), item->Range.DateType);
    cb_TypeDate->setCurrentIndex(cb_TypeDate->count() - 1);
    btn_AddTime->setEnabled(true);
    if (lb_Dates->count() == 0)
        chb_UseDate->setChecked(false);
}

void TSearchForm::lb_DatesMouseDown(Qt::MouseButton Button, const QPoint &Pos)
{
    if (Button != Qt::RightButton)
        return;
    if (QListWidgetItem *item = lb_Dates->itemAt(Pos))
        lb_Dates->setCurrentItem(item);
    FPopupTag = 2;
}

void TSearchForm::dtp_StartChange()
{
    chb_UseDate->setChecked(true);
}

void TSearchForm::btn_deletePopUpBtnClick()
{
    if (FPopupTag == 2)
        lb_DatesKeyDown(Qt::Key_Delete);
    else
        lb_AddNameKeyDown(FPopupTag == 0 ? lb_AddName : lb_DelName, Qt::Key_Delete);
}

// ---- sizes and page limit ----

void TSearchForm::edit_MinSizeChange()
{
    chb_UseSize->setChecked(!edit_MinSize->text().isEmpty() || !edit_MaxSize->text().isEmpty());
}

void TSearchForm::edit_SearchLimitExit()
{
    int32_t limit = 0;
    // A limit of 0 or less would give empty pages that still use up rows of the results.
    if (!ReadWhole(edit_SearchLimit->text(), limit) || limit <= 0)
        edit_SearchLimit->setText(QString::number(DefaultPageSize));
    else if (limit > WarnPageSize)
        WideMessageDlg(
            QStringLiteral("Attention! You shouldn`t use more than 3000 results\rto show on page. It "
                           "might make the application\rrun more slowly."),
            mtWarning, mbOKOnly, 0);
}

bool TSearchForm::eventFilter(QObject *Watched, QEvent *Event)
{
    const QEvent::Type type = Event->type();
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        auto *key = static_cast<QKeyEvent *>(Event);
        if (Watched == edit_AddName || Watched == edit_DelName) {
            const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
            if (type == QEvent::KeyRelease && enter && !key->isAutoRepeat())
                edit_AddNameKeyUp(static_cast<QLineEdit *>(Watched), key->key());
            else if (type == QEvent::KeyPress && !key->text().isEmpty() && !IsNavigationKey(key->key()))
                edit_AddNameKeyPress(key->text());
            return enter; // the dialog's own Enter handling must not see it
        }
        if (type == QEvent::KeyPress &&
            (Watched == edit_MinSize || Watched == edit_MaxSize || Watched == edit_SearchLimit)) {
            const QString text = key->text();
            const bool digit = text.size() == 1 && text[0] >= u'0' && text[0] <= u'9';
            return !text.isEmpty() && !digit && key->key() != Qt::Key_Backspace &&
                   !IsNavigationKey(key->key());
        }
        if (type == QEvent::KeyPress && (Watched == lb_AddName || Watched == lb_DelName))
            lb_AddNameKeyDown(static_cast<QListWidget *>(Watched), key->key());
        else if (type == QEvent::KeyPress && Watched == lb_Dates)
            lb_DatesKeyDown(key->key());
        return false;
    }
    if (type == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(Event);
        const QPoint pos = mouse->position().toPoint();
        if (Watched == lb_AddName->viewport() || Watched == lb_DelName->viewport())
            lb_AddNameMouseDown(Watched == lb_AddName->viewport() ? lb_AddName : lb_DelName, mouse->button(),
                                pos);
        else if (Watched == lb_Dates->viewport())
            lb_DatesMouseDown(mouse->button(), pos);
        // The view's own right-button handling would clear the selection over empty space.
        return mouse->button() == Qt::RightButton;
    }
    if (type == QEvent::FocusOut && Watched == edit_SearchLimit) {
        // Only a move to another control of the dialog leaves the edit; window switches do not.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(Event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            edit_SearchLimitExit();
    }
    return QDialog::eventFilter(Watched, Event);
}

// ---- the statement ----

void TSearchForm::bb_OkBitBtnClick()
{
    btn_AddNameClick();
    btn_DelNameClick();

    SearchSQL = BaseSql;
    const size_t base = SearchSQL.size();

    if (cb_Deleted->currentIndex() == 1)
        SearchSQL += "(IS_DELETED = 1) and ";
    else if (cb_Deleted->currentIndex() == 2)
        SearchSQL += "(IS_DELETED = 0) and ";

    if (cb_Folder->currentIndex() == 1) {
        SearchSQL += "(ID_PARENT = " + std::to_string(FolderID) + ") and ";
    } else if (cb_Folder->currentIndex() == 2) {
        TInt64List subfolders;
        CollectSubfolderIDs(SearchDB, subfolders, FolderID);
        SearchSQL += " (ID_PARENT IN (" + std::to_string(FolderID) + ", ";
        for (int i = 0; i < subfolders.Count(); ++i)
            SearchSQL += std::to_string(subfolders.GetItem(i)) + ", ";
        SearchSQL.resize(SearchSQL.size() - 2);
        SearchSQL += " )) and ";
    }

    if (chb_UseSize->isChecked()) {
        int64_t value = 0;
        if (ReadWhole(edit_MinSize->text(), value))
            SearchSQL += "(F_SIZE >= " + std::to_string(SizeBound(value, cb_CapMinComboBox->currentIndex())) +
                         ") and ";
        if (ReadWhole(edit_MaxSize->text(), value))
            SearchSQL += "(F_SIZE <= " + std::to_string(SizeBound(value, cb_CapMaxComboBox->currentIndex())) +
                         ") and ";
    }

    if (chb_UseDate->isChecked()) {
        if (lb_Dates->count() > 0) {
            for (int i = 0; i < lb_Dates->count(); ++i) {
                const TStartEndDate *range = DateRange(i);
                AppendDateRange(SearchSQL, range->DateType, range->StartDate, range->EndDate);
            }
        } else if (cb_TypeDate->currentIndex() >= 0) {
            AppendDateRange(SearchSQL, cb_TypeDate->currentData().toInt(),
                            QDateTimeToDateTime(dtp_Start->dateTime()),
                            QDateTimeToDateTime(dtp_Finish->dateTime()));
        }
    }

    if (chb_UseName->isChecked()) {
        const int includes = lb_AddName->count();
        const int excludes = lb_DelName->count();
        SearchParams.clear();
        // One "or"-joined LIKE per entry, matched anywhere in the name.
        auto appendNames = [this](const QListWidget *List) {
            for (int i = 0; i < List->count(); ++i) {
                SearchSQL += "F_NAME like ? or ";
                SearchParams.append(QStringLiteral("%") +
                                    ReplaceWideChar(List->item(i)->text(), QChar(u'*'), QChar(u'%')) +
                                    QStringLiteral("%"));
            }
        };
        SearchSQL += "(";
        appendNames(lb_AddName);
        if (includes > 0) {
            SearchSQL.resize(SearchSQL.size() - 3);
            if (excludes > 0)
                SearchSQL += ") and not ( ";
        } else if (excludes > 0) {
            SearchSQL += " not ( ";
        }
        appendNames(lb_DelName);
        if (excludes > 0) {
            SearchSQL.resize(SearchSQL.size() - 3);
            if (includes == 0)
                SearchSQL += ")";
        }
        SearchSQL += ")";
    } else if (SearchSQL.size() > base) {
        SearchSQL.resize(SearchSQL.size() - 5);
    }

    SearchSQL += " );";
    if (SearchSQL.size() == base + 3)
        SearchSQL = SearchSQL.substr(0, base - 7) + ";";
}
