// Opening a report: the test of a path, the open button, drops, and the steps after the preparation.
#include "viewer/Main.h"

bool TMainForm::TryDBorArchive(const QString &Path)
{
    (void)Path;
    return false;
}

void TMainForm::tb_OpenBaseClick() {}

void TMainForm::WMDropFiles(const QStringList &Paths)
{
    (void)Paths;
}

void TMainForm::WMDecompressError() {}

void TMainForm::FinishLoad() {}

void TMainForm::PrepareBaseToWork() {}

void TMainForm::InitializeBase() {}

void TMainForm::CreateRoot() {}
