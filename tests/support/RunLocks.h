#pragma once
// Test and benchmark programs name their shared locks (the log's mutex and any named mutex they
// make) after this run alone, so that they never wait for a viewer the user runs, for another run of
// the same program, or for another checkout's tests. Call before the first named mutex is made.
#include <QByteArray>
#include <QRandomGenerator>
#include <QtGlobal>

#include <unistd.h>

namespace support {

inline void NameRunLocks()
{
    // A forked child keeps its parent's names: it is part of the same run.
    qputenv("PARVIX_MUTEX_NAMESPACE", "run." + QByteArray::number(getpid()) + '.' +
                                          QByteArray::number(QRandomGenerator::system()->generate()));
}

} // namespace support
