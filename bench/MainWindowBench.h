#pragma once
// Shared by the benchmark programs that drive the real main window (offscreen).
#include "bench/BenchSupport.h"
#include "report/uLog.h"
#include "tests/support/ReportBuilder.h"
#include "viewer/Main.h"

#include <QApplication>
#include <QElapsedTimer>

#include <memory>

namespace bench {

// Writes a synthetic report of Rows rows into Temp and opens it in a new main window, with the log
// and the settings in Temp; returns once the report is open.
inline std::unique_ptr<TMainForm> OpenReportWindow(const support::TempDir &Temp, int64_t Rows)
{
    SetLogFolder(Temp.Path() + "/");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Temp.File("config")));
    const std::string path = Temp.File("report.db3");
    WriteReport(path, Rows);
    auto form = std::make_unique<TMainForm>(
        nullptr, QStringList{QStringLiteral("bench"), QString::fromStdString(path)});
    QElapsedTimer opening;
    opening.start();
    while (!(form->tv_FolderTree->GetFirst() && ReportDB)) {
        if (opening.elapsed() > 120000)
            std::abort();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return form;
}

} // namespace bench
