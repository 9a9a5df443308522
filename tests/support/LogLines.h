#pragma once
// For tests: the lines of the log file as it stands (none when it is missing).
#include "report/uLog.h"

#include <QFile>
#include <QStringList>

namespace support {

inline QStringList LogLines()
{
    QFile file(QString::fromStdString(LogFileName()));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    lines.removeLast(); // after the last line break
    return lines;
}

} // namespace support
