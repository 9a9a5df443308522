// Another program that writes to a database: second-writer PATH SQL runs SQL on a connection of its
// own without waiting for a lock, and exits with SQLite's result code (0 when the write went in). A
// program of its own, not a forked test: a fork would share the test's SQLite state, which would
// answer for the locks from memory instead of from the file.
#include <sqlite3.h>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 255;
    sqlite3 *db = nullptr;
    int result = sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr);
    if (result == SQLITE_OK)
        result = sqlite3_exec(db, argv[2], nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return result;
}
