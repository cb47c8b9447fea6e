#include "tarnby/cport/extras/com_settings.h"
#include "cport/internal.h"

#include <functional>

namespace tarnby {

using namespace tarnby::detail;

namespace {

// One stored setting: its group, key, and how it turns into stored text or
// a number and back through the port's own setters.
struct StoredKey {
    TStoredProp group;
    const char* key;
    std::function<std::string(const TCustomComPort&)> text;
    std::function<void(TCustomComPort&, const std::string&)> set_text;
    std::function<int32_t(const TCustomComPort&)> number;
    std::function<void(TCustomComPort&, int32_t)> set_number;
};

StoredKey Text(TStoredProp group, const char* key, std::function<std::string(const TCustomComPort&)> get,
               std::function<void(TCustomComPort&, const std::string&)> set)
{
    return {group, key, std::move(get), std::move(set), nullptr, nullptr};
}

StoredKey Number(TStoredProp group, const char* key, std::function<int32_t(const TCustomComPort&)> get,
                 std::function<void(TCustomComPort&, int32_t)> set)
{
    return {group, key, nullptr, nullptr, std::move(get), std::move(set)};
}

constexpr const char* kCustomBaudRate = "CustomBaudRate";
constexpr int32_t kCustomBaudRateDefault = 9600;

// Groups in the order they are written and read, keys in order within them.
// The basic preset comes before the single flow-control fields, which then
// override it.
const std::vector<StoredKey>& StoredKeys()
{
    using P = TCustomComPort;
    static const std::vector<StoredKey> keys = {
        Text(spBasic, "Port", [](const P& p) { return p.Port(); },
             [](P& p, const std::string& v) { p.SetPort(v); }),
        Text(spBasic, "BaudRate", [](const P& p) { return BaudRateToStr(p.BaudRate()); },
             [](P& p, const std::string& v) { p.SetBaudRate(StrToBaudRate(v)); }),
        Number(spBasic, kCustomBaudRate, [](const P& p) { return p.CustomBaudRate(); },
               [](P& p, int32_t v) { p.SetCustomBaudRate(v); }),
        Text(spBasic, "StopBits", [](const P& p) { return StopBitsToStr(p.StopBits()); },
             [](P& p, const std::string& v) { p.SetStopBits(StrToStopBits(v)); }),
        Text(spBasic, "DataBits", [](const P& p) { return DataBitsToStr(p.DataBits()); },
             [](P& p, const std::string& v) { p.SetDataBits(StrToDataBits(v)); }),
        Text(spBasic, "Parity", [](const P& p) { return ParityToStr(p.Parity()->Bits()); },
             [](P& p, const std::string& v) { p.Parity()->SetBits(StrToParity(v)); }),
        Text(spBasic, "FlowControl", [](const P& p) { return FlowControlToStr(p.FlowControl()->FlowControl()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetFlowControl(StrToFlowControl(v)); }),

        Text(spOthers, "EventChar", [](const P& p) { return CharToText(p.EventChar()); },
             [](P& p, const std::string& v) { p.SetEventChar(TextToChar(v)); }),
        Text(spOthers, "DiscardNull", [](const P& p) { return BoolToText(p.DiscardNull()); },
             [](P& p, const std::string& v) { p.SetDiscardNull(TextToBool(v)); }),

        Text(spParity, "Parity.Check", [](const P& p) { return BoolToText(p.Parity()->Check()); },
             [](P& p, const std::string& v) { p.Parity()->SetCheck(TextToBool(v)); }),
        Text(spParity, "Parity.Replace", [](const P& p) { return BoolToText(p.Parity()->Replace()); },
             [](P& p, const std::string& v) { p.Parity()->SetReplace(TextToBool(v)); }),
        Text(spParity, "Parity.ReplaceChar", [](const P& p) { return CharToText(p.Parity()->ReplaceChar()); },
             [](P& p, const std::string& v) { p.Parity()->SetReplaceChar(TextToChar(v)); }),

        Number(spBuffer, "Buffer.OutputSize", [](const P& p) { return p.Buffer()->OutputSize(); },
               [](P& p, int32_t v) { p.Buffer()->SetOutputSize(v); }),
        Number(spBuffer, "Buffer.InputSize", [](const P& p) { return p.Buffer()->InputSize(); },
               [](P& p, int32_t v) { p.Buffer()->SetInputSize(v); }),

        Number(spTimeouts, "Timeouts.ReadInterval", [](const P& p) { return p.Timeouts()->ReadInterval(); },
               [](P& p, int32_t v) { p.Timeouts()->SetReadInterval(v); }),
        Number(spTimeouts, "Timeouts.ReadTotalConstant",
               [](const P& p) { return p.Timeouts()->ReadTotalConstant(); },
               [](P& p, int32_t v) { p.Timeouts()->SetReadTotalConstant(v); }),
        Number(spTimeouts, "Timeouts.ReadTotalMultiplier",
               [](const P& p) { return p.Timeouts()->ReadTotalMultiplier(); },
               [](P& p, int32_t v) { p.Timeouts()->SetReadTotalMultiplier(v); }),
        Number(spTimeouts, "Timeouts.WriteTotalConstant",
               [](const P& p) { return p.Timeouts()->WriteTotalConstant(); },
               [](P& p, int32_t v) { p.Timeouts()->SetWriteTotalConstant(v); }),
        Number(spTimeouts, "Timeouts.WriteTotalMultiplier",
               [](const P& p) { return p.Timeouts()->WriteTotalMultiplier(); },
               [](P& p, int32_t v) { p.Timeouts()->SetWriteTotalMultiplier(v); }),

        Text(spFlowControl, "FlowControl.ControlRTS",
             [](const P& p) { return RtsControlToText(p.FlowControl()->ControlRTS()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetControlRTS(TextToRtsControl(v)); }),
        Text(spFlowControl, "FlowControl.ControlDTR",
             [](const P& p) { return DtrControlToText(p.FlowControl()->ControlDTR()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetControlDTR(TextToDtrControl(v)); }),
        Text(spFlowControl, "FlowControl.DSRSensitivity",
             [](const P& p) { return BoolToText(p.FlowControl()->DSRSensitivity()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetDSRSensitivity(TextToBool(v)); }),
        Text(spFlowControl, "FlowControl.OutCTSFlow",
             [](const P& p) { return BoolToText(p.FlowControl()->OutCTSFlow()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetOutCTSFlow(TextToBool(v)); }),
        Text(spFlowControl, "FlowControl.OutDSRFlow",
             [](const P& p) { return BoolToText(p.FlowControl()->OutDSRFlow()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetOutDSRFlow(TextToBool(v)); }),
        Text(spFlowControl, "FlowControl.TxContinueOnXoff",
             [](const P& p) { return BoolToText(p.FlowControl()->TxContinueOnXoff()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetTxContinueOnXoff(TextToBool(v)); }),
        Text(spFlowControl, "FlowControl.XonXoffIn",
             [](const P& p) { return BoolToText(p.FlowControl()->XonXoffIn()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetXonXoffIn(TextToBool(v)); }),
        Text(spFlowControl, "FlowControl.XonXoffOut",
             [](const P& p) { return BoolToText(p.FlowControl()->XonXoffOut()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetXonXoffOut(TextToBool(v)); }),
        Text(spFlowControl, "FlowControl.XoffChar",
             [](const P& p) { return CharToText(p.FlowControl()->XoffChar()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetXoffChar(TextToChar(v)); }),
        Text(spFlowControl, "FlowControl.XonChar",
             [](const P& p) { return CharToText(p.FlowControl()->XonChar()); },
             [](P& p, const std::string& v) { p.FlowControl()->SetXonChar(TextToChar(v)); }),
    };
    return keys;
}

constexpr TStoredProp kGroupOrder[] = {spBasic, spOthers, spParity, spBuffer, spTimeouts, spFlowControl};

// Where values go and come from: a settings file section or a registry key.
class Store {
public:
    virtual ~Store() = default;
    virtual void PutText(const char* key, const std::string& value) = 0;
    virtual void PutNumber(const char* key, int32_t value) = 0;
    virtual std::string GetText(const char* key, const std::string& current) = 0;
    virtual int32_t GetNumber(const char* key, int32_t current) = 0;
};

class IniStore : public Store {
public:
    IniStore(TIniFile& ini, std::string section) : ini_(ini), section_(std::move(section)) {}
    void PutText(const char* key, const std::string& value) override { ini_.WriteString(section_, key, value); }
    void PutNumber(const char* key, int32_t value) override { ini_.WriteInteger(section_, key, value); }
    // A missing key, or a number that does not convert, keeps the setting.
    std::string GetText(const char* key, const std::string& current) override
    {
        return ini_.ReadString(section_, key, current);
    }
    int32_t GetNumber(const char* key, int32_t current) override { return ini_.ReadInteger(section_, key, current); }

private:
    TIniFile& ini_;
    std::string section_;
};

class RegistryStore : public Store {
public:
    explicit RegistryStore(TRegistry& reg) : reg_(reg) {}
    void PutText(const char* key, const std::string& value) override { reg_.WriteString(key, value); }
    void PutNumber(const char* key, int32_t value) override { reg_.WriteInteger(key, value); }
    // No defaults here: missing text is empty, a missing number fails.
    std::string GetText(const char* key, const std::string&) override { return reg_.ReadString(key); }
    int32_t GetNumber(const char* key, int32_t) override { return reg_.ReadInteger(key); }

private:
    TRegistry& reg_;
};

void StoreKeys(const TCustomComPort& port, Store& store)
{
    for (TStoredProp group : kGroupOrder) {
        if (!port.StoredProps().Contains(group))
            continue;
        for (const StoredKey& k : StoredKeys()) {
            if (k.group != group)
                continue;
            if (k.text)
                store.PutText(k.key, k.text(port));
            else if (k.key != std::string_view(kCustomBaudRate) || port.BaudRate() == brCustom)
                store.PutNumber(k.key, k.number(port));
        }
    }
}

void LoadKeys(TCustomComPort& port, Store& store)
{
    for (TStoredProp group : kGroupOrder) {
        if (!port.StoredProps().Contains(group))
            continue;
        for (const StoredKey& k : StoredKeys()) {
            if (k.group != group)
                continue;
            if (k.text) {
                k.set_text(port, store.GetText(k.key, k.text(port)));
            } else if (k.key == std::string_view(kCustomBaudRate)) {
                if (port.BaudRate() == brCustom)
                    k.set_number(port, store.GetNumber(k.key, kCustomBaudRateDefault));
            } else {
                k.set_number(port, store.GetNumber(k.key, k.number(port)));
            }
        }
    }
}

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

bool OpenPortRegistryKey(TRegistry& reg, const std::string& path, const TCustomComPort& port)
{
    size_t slash = path.find('\\');
    if (slash == std::string::npos)
        return false;
    std::string root = UpperAscii(path.substr(0, slash));
    if (root == "HKEY_LOCAL_MACHINE")
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
    else if (root == "HKEY_CURRENT_USER")
        reg.SetRootKey(HKEY_CURRENT_USER);
    std::string key = path.substr(slash + 1);
    if (key.empty() || key.back() != '\\')
        key += '\\';
    return reg.OpenKey(key + port.Name(), true);
}

void TComPortSettings::StoreIniFile(TIniFile& ini_file)
{
    IniStore store(ini_file, port_.Name());
    StoreKeys(port_, store);
}

void TComPortSettings::StoreRegistry(TRegistry& reg)
{
    RegistryStore store(reg);
    StoreKeys(port_, store);
}

void TComPortSettings::LoadIniFile(TIniFile& ini_file)
{
    IniStore store(ini_file, port_.Name());
    LoadKeys(port_, store);
}

void TComPortSettings::LoadRegistry(TRegistry& reg)
{
    RegistryStore store(reg);
    LoadKeys(port_, store);
}

void TComPortSettings::StoreSettings(TStoreType store_type, const std::string& store_to)
{
    try {
        if (store_type == stIniFile) {
            TIniFile ini(store_to);
            StoreIniFile(ini);
            ini.UpdateFile();
        } else {
            TRegistry reg;
            // Without a key every write fails, as it would on the real registry.
            OpenPortRegistryKey(reg, store_to, port_);
            StoreRegistry(reg);
            reg.CloseKey();
        }
    } catch (...) {
        throw EComPort(errStoreSettings);
    }
}

void TComPortSettings::LoadSettings(TStoreType store_type, const std::string& load_from)
{
    bool failed = false;
    port_.BeginUpdate();
    try {
        if (store_type == stIniFile) {
            TIniFile ini(load_from);
            LoadIniFile(ini);
        } else {
            TRegistry reg;
            // A path that names no key would read as empty texts and reset
            // the port name and every text setting to the defaults; that is
            // a failed load, not a successful one.
            if (!OpenPortRegistryKey(reg, load_from, port_))
                throw ERegistryException("No registry key in " + load_from);
            LoadRegistry(reg);
        }
    } catch (...) {
        failed = true;
    }
    try {
        port_.EndUpdate();
    } catch (...) {
        failed = true;
    }
    if (failed)
        throw EComPort(errLoadSettings);
}

void StoreSettings(TCustomComPort& port, TStoreType store_type, const std::string& store_to)
{
    TComPortSettings(port).StoreSettings(store_type, store_to);
}

void LoadSettings(TCustomComPort& port, TStoreType store_type, const std::string& load_from)
{
    TComPortSettings(port).LoadSettings(store_type, load_from);
}

// The port's own members: they live here, so a program that stores settings
// links the extras, and one that does not never carries them.
void TCustomComPort::StoreSettings(TStoreType store_type, const std::string& store_to)
{
    tarnby::StoreSettings(*this, store_type, store_to);
}

void TCustomComPort::LoadSettings(TStoreType store_type, const std::string& load_from)
{
    tarnby::LoadSettings(*this, store_type, load_from);
}

} // namespace tarnby
