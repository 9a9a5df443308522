#include <QApplication>

#include "viewer/Main.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parvix Viewer"));
    TMainForm mainForm;
    mainForm.show();
    return app.exec();
}
