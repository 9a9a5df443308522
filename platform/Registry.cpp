#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

// The file looks like an exported registry branch:
//   [SOFTWARE\Vendor\Program]
//   "name"="text"
//   "count"=dword:0000002a
// Texts are the 8-bit bytes as given; '\', '"' and control bytes are written as \\, \" and \xHH.
// A value line of any other form is kept as it is (type rdUnknown).

namespace {

struct TRegValue
{
    std::string Name;
    TRegDataType Type = rdUnknown;
    std::string Text; // the text of rdString, the raw line end of rdUnknown
    int32_t Integer = 0;
};

struct TRegKey
{
    std::vector<std::string> Parts;
    std::vector<TRegValue> Values;
};

using THive = std::vector<TRegKey>;

// Serialises the read-modify-write of the file within the process; QLockFile does it between processes.
std::mutex hiveMutex;

bool SameName(const std::string &a, const std::string &b)
{
    return a == b || QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

std::vector<std::string> SplitPath(const std::string &path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string JoinPath(const std::vector<std::string> &parts)
{
    std::string path;
    for (const std::string &part : parts) {
        if (!path.empty())
            path += '\\';
        path += part;
    }
    return path;
}

// True when prefix is parts itself (whole) or any leading run of it.
bool StartsWith(const std::vector<std::string> &parts, const std::vector<std::string> &prefix, bool whole)
{
    if (parts.size() < prefix.size() || (whole && parts.size() != prefix.size()))
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (!SameName(parts[i], prefix[i]))
            return false;
    return true;
}

std::string Escape(const std::string &text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + '"';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted, escaped text that starts at pos; leaves pos after the closing quote.
bool Unescape(const std::string &line, size_t &pos, std::string &text)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    text.clear();
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++pos >= line.size())
            return false;
        if (line[pos] == 'x') {
            if (pos + 2 >= line.size() || HexDigit(line[pos + 1]) < 0 || HexDigit(line[pos + 2]) < 0)
                return false;
            text += static_cast<char>(HexDigit(line[pos + 1]) * 16 + HexDigit(line[pos + 2]));
            pos += 2;
        } else {
            text += line[pos];
        }
    }
    return false;
}

bool ParseValue(const std::string &line, TRegValue &value)
{
    size_t pos = 0;
    if (!Unescape(line, pos, value.Name) || pos >= line.size() || line[pos] != '=')
        return false;
    ++pos;
    const std::string rest = line.substr(pos);
    if (!rest.empty() && rest[0] == '"') {
        size_t textPos = 0;
        if (Unescape(rest, textPos, value.Text) && textPos == rest.size()) {
            value.Type = rdString;
            return true;
        }
    } else if (rest.size() > 6 && rest.size() <= 14 && rest.compare(0, 6, "dword:") == 0) {
        uint32_t number = 0;
        bool digits = true;
        for (size_t i = 6; i < rest.size() && digits; ++i) {
            digits = HexDigit(rest[i]) >= 0;
            number = number * 16 + static_cast<uint32_t>(HexDigit(rest[i]));
        }
        if (digits) {
            value.Type = rdInteger;
            value.Integer = static_cast<int32_t>(number);
            return true;
        }
    }
    value.Type = rdUnknown;
    value.Text = rest;
    return true;
}

THive LoadHive(const std::string &fileName)
{
    THive hive;
    QFile file(QString::fromStdString(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return hive;
    const QByteArray content = file.readAll();
    size_t start = 0;
    const std::string all = content.toStdString();
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            hive.push_back({SplitPath(line.substr(1, line.size() - 2)), {}});
        } else if (!hive.empty() && !line.empty() && line.front() == '"') {
            TRegValue value;
            if (ParseValue(line, value))
                hive.back().Values.push_back(std::move(value));
        }
    }
    return hive;
}

bool SaveHive(const std::string &fileName, const THive &hive)
{
    std::string out = "; HKEY_CURRENT_USER\n";
    for (const TRegKey &key : hive) {
        out += "\n[" + JoinPath(key.Parts) + "]\n";
        for (const TRegValue &value : key.Values) {
            out += Escape(value.Name) + '=';
            if (value.Type == rdString) {
                out += Escape(value.Text);
            } else if (value.Type == rdInteger) {
                char number[16];
                snprintf(number, sizeof number, "dword:%08x", static_cast<uint32_t>(value.Integer));
                out += number;
            } else {
                out += value.Text;
            }
            out += '\n';
        }
    }
    const QString name = QString::fromStdString(fileName);
    if (!QDir().mkpath(QFileInfo(name).absolutePath()))
        return false;
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(out.data(), static_cast<qint64>(out.size()));
    return file.commit();
}

TRegKey *FindKey(THive &hive, const std::vector<std::string> &parts)
{
    for (TRegKey &key : hive)
        if (StartsWith(key.Parts, parts, true))
            return &key;
    return nullptr;
}

TRegValue *FindValue(TRegKey *key, const std::string &name)
{
    if (key)
        for (TRegValue &value : key->Values)
            if (SameName(value.Name, name))
                return &value;
    return nullptr;
}

// The value name of the key at path as the file holds it now; none without an open key.
std::optional<TRegValue> LookUp(bool open, const std::string &path, const std::string &name)
{
    if (!open)
        return std::nullopt;
    THive hive = LoadHive(RegistryFileName());
    const TRegValue *value = FindValue(FindKey(hive, SplitPath(path)), name);
    return value ? std::optional<TRegValue>(*value) : std::nullopt;
}

// Runs change on the file's content and writes it back when change returns true.
template <typename F> bool ChangeHive(F change)
{
    std::lock_guard<std::mutex> guard(hiveMutex);
    const std::string fileName = RegistryFileName();
    QDir().mkpath(QFileInfo(QString::fromStdString(fileName)).absolutePath());
    QLockFile lock(QString::fromStdString(fileName) + QStringLiteral(".lock"));
    lock.tryLock(5000); // a copy that holds it longer has died: go on without it
    THive hive = LoadHive(fileName);
    if (!change(hive))
        return true;
    return SaveHive(fileName, hive);
}

} // namespace

std::string RegistryFileName()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return (base + QStringLiteral("/ParvixViewer/HKEY_CURRENT_USER.reg")).toStdString();
}

void TRegistry::SetRootKey(HKEY root)
{
    CloseKey();
    FRootKey = root;
}

std::string TRegistry::FullPath(const std::string &key) const
{
    if ((!key.empty() && key.front() == '\\') || !FOpen)
        return JoinPath(SplitPath(key));
    return JoinPath(SplitPath(FCurrentPath + '\\' + key));
}

bool TRegistry::OpenKey(const std::string &key, bool canCreate)
{
    if (FRootKey != HKEY_CURRENT_USER)
        return false;
    const std::string path = FullPath(key);
    if (!KeyExists('\\' + path)) {
        if (!canCreate)
            return false;
        const std::vector<std::string> parts = SplitPath(path);
        const bool saved = ChangeHive([&](THive &hive) {
            if (FindKey(hive, parts))
                return false;
            hive.push_back({parts, {}});
            return true;
        });
        if (!saved)
            return false;
    }
    FOpen = true;
    FCurrentPath = path;
    return true;
}

void TRegistry::CloseKey()
{
    FOpen = false;
    FCurrentPath.clear();
}

bool TRegistry::KeyExists(const std::string &key) const
{
    if (FRootKey != HKEY_CURRENT_USER)
        return false;
    const std::vector<std::string> parts = SplitPath(FullPath(key));
    if (parts.empty())
        return true;
    for (const TRegKey &stored : LoadHive(RegistryFileName()))
        if (StartsWith(stored.Parts, parts, false))
            return true;
    return false;
}

TRegDataType TRegistry::GetDataType(const std::string &name) const
{
    const std::optional<TRegValue> value = LookUp(FOpen, FCurrentPath, name);
    return value ? value->Type : rdUnknown;
}

bool TRegistry::ValueExists(const std::string &name) const
{
    return LookUp(FOpen, FCurrentPath, name).has_value();
}

std::string TRegistry::ReadString(const std::string &name) const
{
    const std::optional<TRegValue> value = LookUp(FOpen, FCurrentPath, name);
    if (!value)
        return {};
    if (value->Type != rdString)
        throw ERegistryException("Invalid data type for '" + name + "'");
    return value->Text;
}

int32_t TRegistry::ReadInteger(const std::string &name) const
{
    const std::optional<TRegValue> value = LookUp(FOpen, FCurrentPath, name);
    if (!value)
        throw ERegistryException("Failed to get data for '" + name + "'");
    if (value->Type != rdInteger)
        throw ERegistryException("Invalid data type for '" + name + "'");
    return value->Integer;
}

bool TRegistry::ReadBool(const std::string &name) const
{
    return ReadInteger(name) != 0;
}

void TRegistry::WriteValue(const std::string &name, TRegDataType type, const std::string &text,
                           int32_t integer)
{
    const std::vector<std::string> parts = SplitPath(FCurrentPath);
    const bool saved = FOpen && ChangeHive([&](THive &hive) {
                           TRegKey *key = FindKey(hive, parts);
                           if (!key) {
                               hive.push_back({parts, {}});
                               key = &hive.back();
                           }
                           TRegValue *value = FindValue(key, name);
                           if (!value) {
                               key->Values.push_back({name, type, {}, 0});
                               value = &key->Values.back();
                           }
                           value->Type = type;
                           value->Text = text;
                           value->Integer = integer;
                           return true;
                       });
    if (!saved)
        throw ERegistryException("Failed to set data for '" + name + "'");
}

void TRegistry::WriteString(const std::string &name, const std::string &value)
{
    WriteValue(name, rdString, value, 0);
}

void TRegistry::WriteInteger(const std::string &name, int32_t value)
{
    WriteValue(name, rdInteger, {}, value);
}

bool TRegistry::DeleteValue(const std::string &name)
{
    if (!FOpen)
        return false;
    bool found = false;
    const std::vector<std::string> parts = SplitPath(FCurrentPath);
    const bool saved = ChangeHive([&](THive &hive) {
        TRegKey *key = FindKey(hive, parts);
        if (!key)
            return false;
        for (auto it = key->Values.begin(); it != key->Values.end(); ++it)
            if (SameName(it->Name, name)) {
                key->Values.erase(it);
                found = true;
                return true;
            }
        return false;
    });
    return saved && found;
}

bool TRegistry::DeleteKey(const std::string &key)
{
    if (FRootKey != HKEY_CURRENT_USER)
        return false;
    const std::vector<std::string> parts = SplitPath(FullPath(key));
    if (parts.empty())
        return false;
    bool found = false;
    const bool saved = ChangeHive([&](THive &hive) {
        const auto before = hive.size();
        std::erase_if(hive, [&](const TRegKey &stored) { return StartsWith(stored.Parts, parts, false); });
        found = hive.size() != before;
        return found;
    });
    return saved && found;
}
