// Another program that writes to a database: second-writer PATH SQL runs SQL on a connection of its
// own without waiting for a lock, and exits with SQLite's result code (0 when the write went in). A
// program of its own, not a forked test: a fork would share the test's SQLite state, which would
// answer for the locks from memory instead of from the file.
// second-writer PATH SQL hold: writes that result code and a line end to its standard output and keeps
// the connection, with a transaction SQL left open and its locks, until its standard input ends.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc != 3 && !(argc == 4 && std::strcmp(argv[3], "hold") == 0))
        return 255;
    sqlite3 *db = nullptr;
    int result = sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr);
    if (result == SQLITE_OK)
        result = sqlite3_exec(db, argv[2], nullptr, nullptr, nullptr);
    if (argc == 4) {
        std::printf("%d\n", result);
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
    }
    sqlite3_close(db);
    return result;
}
