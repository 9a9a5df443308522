// Program start: the application, the main window (which takes a report from parameter 1), the
// search dialog, then the message loop.
#include "viewer/Main.h"
#include "viewer/ufSearchForm.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parvix Viewer"));
    int result = 0;
    {
        TMainForm mainForm;
        TSearchForm searchForm(&mainForm);
        SearchForm = &searchForm;
        result = QApplication::exec();
        SearchForm = nullptr;
    }
    baseName.clear();
    return result;
}
