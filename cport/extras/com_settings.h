// Storing a port's settings in a section of a settings file or a key of the
// registry stand-in, and loading them back. StoredProps chooses the groups;
// values are the readable texts of the settings names wherever one exists.
//
//   StoreSettings(port, stIniFile, "/home/me/.config/app/port.ini");
//   LoadSettings(port, stRegistry, "HKEY_CURRENT_USER\\Software\\App");
//
// TComPortSettings holds the four overridable operations; a class that adds
// keys of its own derives from it and calls its StoreSettings/LoadSettings.
#pragma once

#include "tarnby/cport/cport.h"
#include "tarnby/cport/extras/ini_file.h"
#include "tarnby/cport/extras/registry.h"

namespace tarnby {

class TARNBY_CPORT_EXPORT TComPortSettings {
public:
    explicit TComPortSettings(TCustomComPort& port) : port_(port) {}
    virtual ~TComPortSettings() = default;
    TComPortSettings(const TComPortSettings&) = delete;
    TComPortSettings& operator=(const TComPortSettings&) = delete;

    TCustomComPort& ComPort() const { return port_; }

    // Raises EComPort code 16 when anything on the way fails; a settings
    // file is then left exactly as it was.
    void StoreSettings(TStoreType store_type, const std::string& store_to);
    // Between BeginUpdate and EndUpdate, so an open port takes the loaded
    // settings at once. Raises EComPort code 17 when anything fails; the
    // values read before the failure stay set.
    void LoadSettings(TStoreType store_type, const std::string& load_from);

protected:
    // Each writes or reads every group of the port's StoredProps in the
    // fixed key order, in the section or key named after the port.
    virtual void StoreRegistry(TRegistry& reg);
    virtual void StoreIniFile(TIniFile& ini_file);
    virtual void LoadRegistry(TRegistry& reg);
    virtual void LoadIniFile(TIniFile& ini_file);

private:
    TCustomComPort& port_;
};

// The same with the standard keys only.
TARNBY_CPORT_EXPORT void StoreSettings(TCustomComPort& port, TStoreType store_type, const std::string& store_to);
TARNBY_CPORT_EXPORT void LoadSettings(TCustomComPort& port, TStoreType store_type, const std::string& load_from);

// Opens the registry key of a path "ROOT\sub\key" for the port: the root
// name (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE, any case; others mean
// HKEY_CURRENT_USER), then the rest followed by "\" and the port's Name,
// created when missing. False when the path has no backslash.
TARNBY_CPORT_EXPORT bool OpenPortRegistryKey(TRegistry& reg, const std::string& path, const TCustomComPort& port);

} // namespace tarnby
