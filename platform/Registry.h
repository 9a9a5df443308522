#pragma once
// The per-user registry: keys named by backslash paths ("SOFTWARE\Vendor\Program") holding named values
// that are 8-bit texts or signed 32-bit integers. It lives in one file, RegistryFileName(), and every
// call reads the file anew, so two objects (or two running copies of the program) see each other's
// writes. Key and value names compare without regard to letter case, as the system's registry does.
// A value keeps the type it was written with: reading it as the other type raises.
#include <cstdint>
#include <stdexcept>
#include <string>

using HKEY = uintptr_t;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001;

enum TRegDataType : uint8_t { rdUnknown, rdString, rdInteger };

// What a failed read or write raises; what() is the message ("Invalid data type for 'x'").
class ERegistryException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// $XDG_CONFIG_HOME (else ~/.config) + "/ParvixViewer/HKEY_CURRENT_USER.reg", worked out at each call.
std::string RegistryFileName();

class TRegistry
{
public:
    TRegistry() = default;
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;

    // Only HKEY_CURRENT_USER is kept; under any other root no key exists or can be made.
    HKEY RootKey() const { return FRootKey; }
    void SetRootKey(HKEY root);

    // Makes key the current key. A path that begins with "\" is taken from the root, any other from
    // the current key. A missing key is made when canCreate; false when it is missing (and not made)
    // or the file cannot be written.
    bool OpenKey(const std::string &key, bool canCreate);
    void CloseKey();
    bool HasCurrentKey() const { return FOpen; }
    // The current key's path from the root, without a leading "\".
    const std::string &CurrentPath() const { return FCurrentPath; }

    // key as OpenKey reads it; a key exists also when only keys below it were made.
    bool KeyExists(const std::string &key) const;
    bool ValueExists(const std::string &name) const;
    // rdUnknown when the value (or the current key) is missing.
    TRegDataType GetDataType(const std::string &name) const;

    // Text of a string value; an empty text when it is missing; raises for a value of another type.
    std::string ReadString(const std::string &name) const;
    // Raises when the value is missing or of another type.
    int32_t ReadInteger(const std::string &name) const;
    // ReadInteger(name) != 0.
    bool ReadBool(const std::string &name) const;

    // Make or replace the value in the current key; raise without a current key or when the file
    // cannot be written.
    void WriteString(const std::string &name, const std::string &value);
    void WriteInteger(const std::string &name, int32_t value);
    void WriteBool(const std::string &name, bool value) { WriteInteger(name, value ? 1 : 0); }

    // False when there was nothing to delete. DeleteKey removes the keys below it too.
    bool DeleteValue(const std::string &name);
    bool DeleteKey(const std::string &key);

private:
    std::string FullPath(const std::string &key) const;
    void WriteValue(const std::string &name, TRegDataType type, const std::string &text, int32_t integer);

    HKEY FRootKey = HKEY_CURRENT_USER;
    bool FOpen = false;
    std::string FCurrentPath;
};
