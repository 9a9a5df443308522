#pragma once
// For widget tests: while one lives, the shared wait window cannot be made. It is freed first, and
// the named mutexes a new one opens get names the system refuses, so ShowWaitForm raises EOSError.
#include "viewer/ufWaitForm.h"

#include <QByteArray>
#include <QtGlobal>

namespace support {

class FailingWaitForm
{
public:
    FailingWaitForm() : FOld(qgetenv("PARVIX_MUTEX_NAMESPACE"))
    {
        FreeWaitForm();
        qputenv("PARVIX_MUTEX_NAMESPACE", QByteArray(300, 'x'));
    }
    ~FailingWaitForm() { qputenv("PARVIX_MUTEX_NAMESPACE", FOld); }
    FailingWaitForm(const FailingWaitForm &) = delete;
    FailingWaitForm &operator=(const FailingWaitForm &) = delete;

private:
    QByteArray FOld;
};

} // namespace support
