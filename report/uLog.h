#pragma once
// The program's plain-text log, "ParvixViewer.log" beside the executable: one line per WriteLog,
// each line's open, write and close done while holding the named mutex "logMutex", so lines of
// threads and of running copies of the program never interleave. The main window empties the file
// at start and deletes it at exit. A symbolic link at the log's path is never followed nor removed:
// the log then writes nothing (its failure shown as below) and the program runs on.
//
// A failure of these routines never reaches the caller. The first one of a run is shown in an error
// box on the main thread (a worker hands it over and goes on); later ones are silent, so that an
// unwritable folder gives one box, not one per line.
#include <QString>
#include <functional>
#include <string>

class TMutex;

// The named mutex "logMutex" (or the one UseLogMutexName chose), made on first use and kept for the
// program's whole life.
TMutex &logMutex();

// Creates the log file, or empties it when it exists. Takes no mutex (start of the main window).
void CreateLogFile();
// Appends Msg followed by "\r\n". Waits up to 4000 ms for logMutex; after that the line is dropped
// without a message. A missing file (deleted by another copy that ended) is made again.
void WriteLog(const std::string &Msg);
void WriteLog(const char *Msg);
// Wide text goes into the log as 8-bit (UTF-8) text.
void WriteLog(const QString &Msg);
// Deletes the log file when it exists. Takes no mutex (end of the main window).
void DeleteLogFile();

// The full path of the log file: the log folder followed by "ParvixViewer.log".
std::string LogFileName();

// ---- For tests

// Makes the log live in Folder (ending in '/') instead of the executable's folder; empty restores
// the executable's folder.
void SetLogFolder(const std::string &Folder);

// Shows a log failure; called on the main thread.
using TLogErrorDisplay = std::function<void(const QString &Msg)>;
// Replaces the display of a log failure; an empty one restores the error box (WideMessageDlg).
void SetLogErrorDisplay(TLogErrorDisplay Display);
// Makes the log serialise on the mutex of that name instead of "logMutex", so that a test holding
// it blocks no other running program; empty returns to "logMutex". Call while no other thread logs.
void UseLogMutexName(const std::string &Name);
// Forgets that a failure was shown in this run, so that the next one is shown again.
void ResetLogErrorShown();
