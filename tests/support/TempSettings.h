#pragma once
// For tests: the program's settings file kept in a folder of the test's while one lives; the
// environment as it was comes back afterwards.
#include <QByteArray>
#include <QtGlobal>

#include <string>

namespace support {

class TempSettings
{
public:
    explicit TempSettings(const std::string &Folder) : FOld(qgetenv("XDG_CONFIG_HOME"))
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Folder));
    }
    ~TempSettings()
    {
        if (FOld.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", FOld);
    }
    TempSettings(const TempSettings &) = delete;
    TempSettings &operator=(const TempSettings &) = delete;

private:
    QByteArray FOld;
};

} // namespace support
