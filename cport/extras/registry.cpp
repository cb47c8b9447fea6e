#include "tarnby/cport/extras/registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace tarnby {

namespace {

constexpr std::string_view kText = "sz:";
constexpr std::string_view kNumber = "dword:";

// Backslashes at either end and doubled ones name no further key.
std::string NormalisedPath(const std::string& key)
{
    std::string path;
    for (char c : key) {
        if (c == '\\' && (path.empty() || path.back() == '\\'))
            continue;
        path += c;
    }
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

int MakeFolders(const std::string& folder)
{
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/')
            continue;
        std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

TIniDocument ReadRoot(const std::string& file)
{
    std::string text;
    int error = ReadFileContents(file, text);
    if (error == ENOENT)
        return TIniDocument();
    if (error != 0)
        throw ERegistryException("Cannot read " + file + ": " + std::strerror(error));
    return TIniDocument(text);
}

} // namespace

std::string TRegistry::StorageFolder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/tarnby/registry";
}

std::string TRegistry::StorageFile(HKEY root)
{
    return StorageFolder() + (root == HKEY_LOCAL_MACHINE ? "/HKEY_LOCAL_MACHINE.ini" : "/HKEY_CURRENT_USER.ini");
}

TRegistry::~TRegistry()
{
    try {
        CloseKey();
    } catch (const std::exception&) {
        // Documented: only an explicit CloseKey reports a failed write.
    }
}

void TRegistry::SetRootKey(HKEY root)
{
    CloseKey();
    root_ = root;
}

bool TRegistry::OpenKey(const std::string& key, bool can_create)
{
    CloseKey();
    std::string path = NormalisedPath(key);
    if (path.empty())
        return false;
    std::string file = StorageFile(root_);
    TIniDocument document;
    try {
        document = ReadRoot(file);
        if (!document.SectionExists(path)) {
            if (!can_create)
                return false;
            document.AddSection(path);
            int error = MakeFolders(StorageFolder());
            if (error == 0)
                error = ReplaceFileContents(file, document.Text());
            if (error != 0)
                return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    open_ = true;
    path_ = path;
    file_ = file;
    document_ = std::move(document);
    return true;
}

void TRegistry::CloseKey()
{
    if (!open_)
        return;
    if (!pending_.empty()) {
        // Laid over the file as it is now, so other keys written meanwhile stay.
        TIniDocument current = ReadRoot(file_);
        for (const Pending& p : pending_)
            current.WriteString(path_, p.name, p.raw);
        int error = MakeFolders(StorageFolder());
        if (error == 0)
            error = ReplaceFileContents(file_, current.Text());
        if (error != 0)
            throw ERegistryException("Cannot write " + file_ + ": " + std::strerror(error));
        pending_.clear();
    }
    open_ = false;
    path_.clear();
}

void TRegistry::Write(const std::string& name, const std::string& raw)
{
    if (!open_)
        throw ERegistryException("Failed to set data for '" + name + "': no key is open");
    try {
        document_.WriteString(path_, name, raw);
    } catch (const EIniError& e) {
        throw ERegistryException(e.Message());
    }
    pending_.push_back({name, raw});
}

void TRegistry::WriteString(const std::string& name, const std::string& value)
{
    Write(name, std::string(kText) + value);
}

void TRegistry::WriteInteger(const std::string& name, int32_t value)
{
    Write(name, std::string(kNumber) + std::to_string(value));
}

bool TRegistry::Raw(const std::string& name, std::string& raw) const
{
    return open_ && document_.Find(path_, name, raw);
}

TRegDataType TRegistry::GetDataType(const std::string& name) const
{
    std::string raw;
    if (!Raw(name, raw))
        return rdUnknown;
    if (raw.starts_with(kText))
        return rdString;
    int32_t number = 0;
    if (raw.starts_with(kNumber) && ParseIniInteger(std::string_view(raw).substr(kNumber.size()), number))
        return rdInteger;
    return rdUnknown;
}

bool TRegistry::ValueExists(const std::string& name) const
{
    std::string raw;
    return Raw(name, raw);
}

std::string TRegistry::ReadString(const std::string& name) const
{
    std::string raw;
    if (!Raw(name, raw))
        return {};
    if (GetDataType(name) != rdString)
        throw ERegistryException("Invalid data type for '" + name + "'");
    return raw.substr(kText.size());
}

int32_t TRegistry::ReadInteger(const std::string& name) const
{
    std::string raw;
    if (!Raw(name, raw))
        throw ERegistryException("Failed to get data for '" + name + "'");
    int32_t number = 0;
    if (!raw.starts_with(kNumber) || !ParseIniInteger(std::string_view(raw).substr(kNumber.size()), number))
        throw ERegistryException("Invalid data type for '" + name + "'");
    return number;
}

} // namespace tarnby
