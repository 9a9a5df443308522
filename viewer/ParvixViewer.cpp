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
        // A window that cannot be created has said why in a box.
        std::unique_ptr<TMainForm> mainForm = CreateMainForm(QCoreApplication::arguments());
        if (!mainForm)
            return 1;
        TSearchForm searchForm(mainForm.get());
        SearchForm = &searchForm;
        result = QApplication::exec();
        SearchForm = nullptr;
    }
    baseName.clear();
    return result;
}
