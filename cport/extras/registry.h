// A stand-in for the system registry on Linux, for the port settings that
// are stored there. It keeps the registry's behaviour: two roots,
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE; keys named by backslash paths,
// matched without regard to case and created when opened with creation
// allowed; text values and 32-bit numbers as distinct types, so reading a
// number that is missing or is text fails.
//
// Where it lives: one settings file per root in the user's configuration
// folder, $XDG_CONFIG_HOME/tarnby/registry/ (~/.config/tarnby/registry/ when
// XDG_CONFIG_HOME is unset or not absolute), named HKEY_CURRENT_USER.ini and
// HKEY_LOCAL_MACHINE.ini. Both roots are the user's own: a machine-wide
// place would need administrator rights to write. Each key is a section
// ("[Software\Test\ComPort1]"), each value a line: text as "Name=sz:text",
// numbers as "Name=dword:1234" (decimal), so a person can read and edit them.
// The files are replaced whole on every change, never left torn.
#pragma once

#include "tarnby/cport/extras/ini_file.h"

#include <cstdint>
#include <string>

namespace tarnby {

using HKEY = uint32_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

enum TRegDataType : uint8_t { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class TARNBY_CPORT_EXPORT ERegistryException : public Exception {
public:
    using Exception::Exception;
};

class TARNBY_CPORT_EXPORT TRegistry : public TObject {
public:
    TRegistry() = default;
    // Writes what is still pending; a failure here goes unreported, so
    // callers that must know call CloseKey first.
    ~TRegistry() override;
    std::string ClassName() const override { return "TRegistry"; }

    HKEY RootKey() const { return root_; }
    // Closes an open key first.
    void SetRootKey(HKEY root);

    // Opens key (a backslash path below the root) and, with can_create,
    // creates it at once when it does not exist. False when it does not
    // exist and may not be created, or when it cannot be created.
    bool OpenKey(const std::string& key, bool can_create);
    // Writes the pending changes and closes the key; raises
    // ERegistryException when they cannot be written.
    void CloseKey();
    bool HasCurrentKey() const { return open_; }
    const std::string& CurrentPath() const { return path_; }

    // Raise ERegistryException when no key is open or the value cannot be
    // stored. Changes reach the file at CloseKey.
    void WriteString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int32_t value);
    // Empty text when no key is open or the value is missing; raises for a
    // value of another type.
    std::string ReadString(const std::string& name) const;
    // Raises when no key is open, the value is missing or is not a number.
    int32_t ReadInteger(const std::string& name) const;
    bool ValueExists(const std::string& name) const;
    TRegDataType GetDataType(const std::string& name) const;

    // The folder and the file of a root, as described above.
    static std::string StorageFolder();
    static std::string StorageFile(HKEY root);

private:
    bool Raw(const std::string& name, std::string& raw) const;
    void Write(const std::string& name, const std::string& raw);

    HKEY root_ = HKEY_CURRENT_USER;
    bool open_ = false;
    std::string path_;
    std::string file_;
    TIniDocument document_;
    struct Pending {
        std::string name, raw;
    };
    std::vector<Pending> pending_;
};

} // namespace tarnby
