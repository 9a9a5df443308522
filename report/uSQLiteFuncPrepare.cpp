// Report preparation: the indexes and the tick/comment table that the viewer adds to a report.
#include "report/uLog.h"
#include "report/uSQLiteFunc.h"

namespace {

// The blank runs are part of the text; the export file uses the same one.
constexpr char CheckAndCommentMapText[] =
    "CREATE TABLE IF NOT EXISTS check_and_comment_map(id               INTEGER PRIMARY KEY, comment     "
    "     TEXT,    checked          INTEGER, fileID           INTEGER, id_parent        INTEGER, flag    "
    "         INTEGER, checkForFolder   INTEGER);";

} // namespace

const char *const CheckAndCommentMapTableSql = CheckAndCommentMapText;

const TPrepareStep ReportPreparationSteps[PrepareStepCount] = {
    {"AddIdIndex", "CREATE INDEX IF NOT EXISTS idInd ON struct_drive_table(ID_FILE);", AddIdIndex},
    {"AddPIdIndex", "CREATE INDEX IF NOT EXISTS pidInd ON struct_drive_table(ID_PARENT);", AddPIdIndex},
    {"AddDelIndex", "CREATE INDEX IF NOT EXISTS delInd ON struct_drive_table(IS_DELETED);", AddDelIndex},
    {"AddFoldIndex", "CREATE INDEX IF NOT EXISTS foldInd ON struct_drive_table(IS_FOLDER);", AddFoldIndex},
    {"AddSizeIndex", "CREATE INDEX IF NOT EXISTS sizeInd ON struct_drive_table(F_SIZE);", AddSizeIndex},
    {"AddCreateIndex", "CREATE INDEX IF NOT EXISTS createInd ON struct_drive_table(F_CREATE);",
     AddCreateIndex},
    {"AddUpdateIndex", "CREATE INDEX IF NOT EXISTS updateInd ON struct_drive_table(F_UPDATE);",
     AddUpdateIndex},
    {"AddPIdIsFolderIndex",
     "CREATE INDEX IF NOT EXISTS pIDAndIsFoldInd ON struct_drive_table (ID_PARENT, IS_FOLDER DESC);",
     AddPIdIsFolderIndex},
    {"CreateChAComTable", CheckAndCommentMapText, CreateChAComTable},
    {"AddId_parAndCheckIndex",
     "CREATE INDEX IF NOT EXISTS id_parAndCheckIndex ON check_and_comment_map ( id_parent, checked);",
     AddId_parAndCheckIndex},
    {"AddFileIdIndex", "CREATE INDEX IF NOT EXISTS fileIdInd ON check_and_comment_map(fileID);",
     AddFileIdIndex},
};

namespace {

// Logs the step's name first, so that the log shows the step that failed.
void RunPrepareStep(sqlite3 *db, int index)
{
    const TPrepareStep &step = ReportPreparationSteps[index];
    WriteLog(step.Name);
    ExecSqlScript(db, step.Sql);
}

} // namespace

void AddIdIndex(sqlite3 *db)
{
    RunPrepareStep(db, 0);
}

void AddPIdIndex(sqlite3 *db)
{
    RunPrepareStep(db, 1);
}

void AddDelIndex(sqlite3 *db)
{
    RunPrepareStep(db, 2);
}

void AddFoldIndex(sqlite3 *db)
{
    RunPrepareStep(db, 3);
}

void AddSizeIndex(sqlite3 *db)
{
    RunPrepareStep(db, 4);
}

void AddCreateIndex(sqlite3 *db)
{
    RunPrepareStep(db, 5);
}

void AddUpdateIndex(sqlite3 *db)
{
    RunPrepareStep(db, 6);
}

void AddPIdIsFolderIndex(sqlite3 *db)
{
    RunPrepareStep(db, 7);
}

void CreateChAComTable(sqlite3 *db)
{
    RunPrepareStep(db, 8);
}

void AddId_parAndCheckIndex(sqlite3 *db)
{
    RunPrepareStep(db, 9);
}

void AddFileIdIndex(sqlite3 *db)
{
    RunPrepareStep(db, 10);
}
