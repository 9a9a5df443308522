#include "viewer/Main.h"

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Parvix Viewer"));
    resize(900, 600);
}
