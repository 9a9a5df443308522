#include "viewer/ufSearchForm.h"

TSearchForm *SearchForm = nullptr;

TSearchForm::TSearchForm(QWidget *Owner) : QDialog(Owner)
{
    setObjectName(QStringLiteral("SearchForm"));
    setWindowTitle(QStringLiteral("Search"));
}
