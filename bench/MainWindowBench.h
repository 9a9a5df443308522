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

// Opens the report at path in a new main window, with the log and the settings in Temp; returns once
// the report is open.
inline std::unique_ptr<TMainForm> OpenReportWindowOn(const support::TempDir &Temp, const std::string &path)
{
    SetLogFolder(Temp.Path() + "/");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Temp.File("config")));
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

// Writes a synthetic report of Rows rows into Temp and opens it the same way.
inline std::unique_ptr<TMainForm> OpenReportWindow(const support::TempDir &Temp, int64_t Rows)
{
    const std::string path = Temp.File("report.db3");
    WriteReport(path, Rows);
    return OpenReportWindowOn(Temp, path);
}

} // namespace bench
