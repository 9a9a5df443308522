#pragma once
// The extended search dialog. One instance, SearchForm, made at program start right after the main
// window; it lives until the program ends.
#include <QDialog>

class TSearchForm : public QDialog
{
    Q_OBJECT
public:
    explicit TSearchForm(QWidget *Owner = nullptr);
};

extern TSearchForm *SearchForm;
