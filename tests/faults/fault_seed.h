// An XP-like earlier installation of the phone's drivers with look-alikes
// that must survive, seeded into the prefix in-process; and snapshots of the
// registry and files that tell whether anything but the phone's entries changed.
#pragma once
#include <windows.h>
#include <setupapi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace faults {

struct Device {
    const char* id;
    const char* instance;
    const char* classGuid;
    const char* driver;  // number of the driver key below the class
    const char* infStem;
    const char* port;    // PortName, or nullptr
    const char* description;
    const char* hardwareIds;  // '|'-separated
    const char* interfaceClass;
};

const char kUsb[] = "{36FC9E60-C465-11CF-8056-444553540000}";
const char kModem[] = "{4D36E96D-E325-11CE-BFC1-08002BE10318}";
const char kPorts[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
const char kIfUsb[] = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
const char kIfModem[] = "{2C7089AA-2E0E-11D1-B114-00C04FC2AAE4}";
const char kIfPort[] = "{86E0D1E0-8089-11D0-9CE4-08003E301F73}";

const Device kPhone[] = {
    {"VID_1B3F&PID_5C13", "5&1A2B3C4D&0&1", kUsb, "0021", "oem7", nullptr, "TAVRO USB Composite Device",
     "USB\\VID_1B3F&PID_5C13&REV_0100|USB\\VID_1B3F&PID_5C13", kIfUsb},
    {"VID_1B3F&PID_5C13&Mi_01", "6&2B3C4D5E&0&0001", kModem, "0003", "oem12", "COM5", "TV4170K USB Modem",
     "USB\\VID_1B3F&PID_5C13&REV_0100&MI_01|USB\\VID_1B3F&PID_5C13&MI_01", kIfModem},
    {"VID_1B3F&PID_5C13&Mi_03", "6&2B3C4D5E&0&0003", kPorts, "0011", "oem13", "COM12", "TAVRO Diagnostic Port",
     "USB\\VID_1B3F&PID_5C13&REV_0100&MI_03|USB\\VID_1B3F&PID_5C13&MI_03", kIfPort},
    {"VID_1B3F&PID_5C13&Mi_05", "6&2B3C4D5E&0&0005", kPorts, "0012", "oem14", "COM21", "TAVRO OBEX Port",
     "USB\\VID_1B3F&PID_5C13&REV_0100&MI_05|USB\\VID_1B3F&PID_5C13&MI_05", kIfPort},
};
// Another product of the maker (its modem has the very same description), a
// function id of the phone that is none of the four, a serial adapter.
const Device kOthers[] = {
    {"VID_1B3F&PID_5C14", "5&9F8E7D6C&0&2", kUsb, "0030", "oem1", nullptr, "TAVRO Other Phone",
     "USB\\VID_1B3F&PID_5C14&REV_0100|USB\\VID_1B3F&PID_5C14", kIfUsb},
    {"VID_1B3F&PID_5C14&Mi_01", "6&1F2E3D4C&0&0001", kModem, "0004", "oem1", "COM10", "TV4170K USB Modem",
     "USB\\VID_1B3F&PID_5C14&REV_0100&MI_01|USB\\VID_1B3F&PID_5C14&MI_01", kIfModem},
    {"VID_1B3F&PID_5C13&MI_07", "6&2B3C4D5E&0&0007", kModem, "0005", "oem120", nullptr, "tv4170k usb modem",
     "USB\\VID_1B3F&PID_5C13&REV_0100&MI_07", nullptr},
    {"VID_0403&PID_6001", "A1B2C3D4", kPorts, "0013", "oem120", "COM50", "USB Serial Port",
     "USB\\VID_0403&PID_6001&REV_0600|USB\\VID_0403&PID_6001", kIfPort},
};

const char* const kControlSets[] = {"ControlSet001", "ControlSet002", "CurrentControlSet"};
const char* const kPhoneServices[] = {"TVybus", "TVymdfl", "TVymdm", "TVyobex"};
const char* const kOtherServices[] = {"TVxbus"};
const char* const kPhonePorts[] = {"COM5", "COM12", "COM21"};
const int kAllPorts[] = {1, 5, 10, 12, 21, 50};
const char* const kPhoneStems[] = {"oem7", "oem12", "oem13", "oem14", "oem30"};  // oem30: stale copy
const char* const kOtherStems[] = {"oem1", "oem120"};
const char* const kDriverFiles[] = {"TVybus.sys", "TVycm.sys",   "TVycmnt.sys", "TVymdfl.sys", "TVymdm.sys",
                                    "TVymgmt.sys", "TVyobex.sys", "TVywh.sys",   "TVywhnt.sys"};
const char* const kOtherDriverFiles[] = {"TVxbus.sys", "TVymdm2.sys"};
const char* const kLastGoodValues[] = {"INF\\oem7.inf",  "INF\\oem7.PNF",   "INF\\OEM12.INF",
                                       "INF\\oem12.PNF", "INF\\oem13.inf",  "INF\\oem14.inf",
                                       "INF\\oem1.inf",  "INF\\oem120.inf", "system32\\DRIVERS\\TVybus.sys"};

const char kPortsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const char kLastGoodKey[] = "SYSTEM\\LastKnownGoodRecovery\\LastGood";
const char kUnimodemKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific";
const char kPhoneModemKey[] = "TV4170K USB Modem::TAVRO::TAVRO";
const char kOtherModemKey[] = "Other Modem::Other::Other";
const char kProductKey[] = "SOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K";

// Registry lines "K path" / "V path\tname\ttype\thex" of the trees the
// removal may touch, and the files of the folders it deletes from.
struct Snapshot {
    std::map<std::string, std::string> registry;  // identity -> line
    std::set<std::string> files;
};

namespace detail {

inline std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

inline std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

inline bool SetValue(const std::string& path, const std::string& name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}
inline bool SetText(const std::string& path, const std::string& name, const std::string& text)
{
    return SetValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}
inline bool SetDword(const std::string& path, const std::string& name, DWORD value)
{
    return SetValue(path, name, REG_DWORD, &value, 4);
}
inline bool GetValue(const std::string& path, const std::string& name, std::vector<BYTE>* data)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    BYTE buffer[4096];
    DWORD size = sizeof(buffer);
    LONG status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, buffer, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    data->assign(buffer, buffer + size);
    return true;
}
inline void DeleteValue(const std::string& path, const std::string& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
}
inline void DeleteTree(const std::string& path) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str()); }
inline bool KeyExists(const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

inline std::vector<BYTE> ComDb(bool phone, bool others)
{
    std::vector<BYTE> data(32, 0);
    for (int n : kAllPorts) {
        bool isPhone = n == 5 || n == 12 || n == 21;
        if (isPhone ? phone : others) data[(n - 1) / 8] |= static_cast<BYTE>(1 << ((n - 1) % 8));
    }
    return data;
}

inline std::string InterfaceName(const Device& d)
{
    std::string id = d.id;
    for (char& c : id) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return std::string("##?#USB#") + id + "#" + d.instance + "#" + d.interfaceClass;
}

inline bool WriteText(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}
inline void RemoveFile(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

inline std::string InfText(const std::string& hardwareId)
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
           "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\r\nProvider=TAVRO\r\n\r\n"
           "[Manufacturer]\r\nTAVRO=Tavro_wmc\r\n\r\n[Tavro_wmc]\r\n%Device%=Install, " +
           hardwareId + "\r\n\r\n[Install]\r\n";
}

inline bool CreateDeviceNode(const Device& d)
{
    GUID guid;
    std::string text = std::string(d.classGuid).substr(1, 36);
    unsigned long a = 0;
    unsigned int b[10] = {};
    if (sscanf(text.c_str(), "%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &a, &b[0], &b[1], &b[2], &b[3], &b[4],
               &b[5], &b[6], &b[7], &b[8], &b[9]) != 11)
        return false;
    guid.Data1 = a;
    guid.Data2 = static_cast<unsigned short>(b[0]);
    guid.Data3 = static_cast<unsigned short>(b[1]);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<unsigned char>(b[2 + i]);
    HDEVINFO set = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    std::string instance = std::string("USB\\") + d.id + "\\" + d.instance;
    bool ok = SetupDiCreateDeviceInfoA(set, instance.c_str(), &guid, d.description, nullptr, 0, &device);
    std::string ids;
    for (const std::string& id : Split(d.hardwareIds, '|')) ids += id + '\0';
    ids += '\0';
    std::string description = std::string(d.description) + '\0';
    ok = ok &&
         SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids.data()),
                                           static_cast<DWORD>(ids.size())) &&
         SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC,
                                           reinterpret_cast<const BYTE*>(description.data()),
                                           static_cast<DWORD>(description.size())) &&
         SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

inline void DeleteServiceNamed(SC_HANDLE manager, const char* name)
{
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (!service) return;
    DeleteService(service);
    CloseServiceHandle(service);
}

inline bool IsOneOf(const std::string& lower, const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        if (lower == Lower(name)) return true;
    return false;
}

// A key path (any control set) that belongs to the phone.
inline bool PhoneKey(const std::string& path)
{
    std::vector<std::string> c = Split(Lower(path), '\\');
    std::vector<std::string> ids, services(std::begin(kPhoneServices), std::end(kPhoneServices));
    for (const Device& d : kPhone) ids.push_back(d.id);
    for (size_t i = 0; i < c.size(); ++i) {
        if (i >= 2 && c[i - 2] == "enum" && c[i - 1] == "usb" && IsOneOf(c[i], ids)) return true;
        if (i >= 1 && c[i - 1] == "services" && IsOneOf(c[i], services)) return true;
        if (i >= 1 && c[i - 1] == "devicespecific" && c[i] == Lower(kPhoneModemKey)) return true;
        for (const Device& d : kPhone) {
            if (i >= 2 && c[i - 2] == "class" && c[i - 1] == Lower(d.classGuid) && c[i] == d.driver) return true;
            if (d.interfaceClass && c[i] == Lower(InterfaceName(d))) return true;
        }
    }
    return false;
}

inline bool ContainsStem(const std::string& lowerName, const std::string& stem)
{
    for (size_t at = lowerName.find(stem); at != std::string::npos; at = lowerName.find(stem, at + 1)) {
        char next = at + stem.size() < lowerName.size() ? lowerName[at + stem.size()] : '\0';
        if (next < '0' || next > '9') return true;
    }
    return false;
}

inline bool PhoneValue(const std::string& path, const std::string& name)
{
    if (PhoneKey(path)) return true;
    std::string p = Lower(path), n = Lower(name);
    if (p == Lower(kPortsKey)) {
        for (const char* port : kPhonePorts)
            if (n == Lower(port) + ":") return true;
    }
    if (p == Lower(kLastGoodKey)) {
        for (const char* stem : kPhoneStems)
            if (ContainsStem(n, stem)) return true;
    }
    return false;
}

inline std::vector<BYTE> Hex(const std::string& text)
{
    std::vector<BYTE> data;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        data.push_back(static_cast<BYTE>(strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    return data;
}

// InstallFlag reset to 0; ComDB bits of the phone's ports cleared and no others.
inline bool AllowedChange(const std::string& path, const std::string& name, const std::string& beforeLine,
                          const std::string& afterLine)
{
    std::vector<std::string> b = Split(beforeLine, '\t'), a = Split(afterLine, '\t');
    if (b.size() != 4 || a.size() != 4) return false;
    if (Lower(path) == Lower(kProductKey) && Lower(name) == "installflag")
        return a[2] == "4" && a[3] == "00000000";
    if (Lower(name) != "comdb" || a[2] != b[2]) return false;
    std::vector<BYTE> was = Hex(b[3]), now = Hex(a[3]), phone = ComDb(true, false);
    if (was.size() != now.size()) return false;
    for (size_t i = 0; i < was.size(); ++i) {
        BYTE cleared = static_cast<BYTE>(was[i] & ~now[i]);
        if ((now[i] & ~was[i]) != 0) return false;
        if (cleared & ~(i < phone.size() ? phone[i] : 0)) return false;
    }
    return true;
}

inline void Export(HKEY parent, const std::string& name, const std::string& path,
                   std::map<std::string, std::string>& lines)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    lines["K " + path] = "K " + path;
    for (DWORD i = 0;; ++i) {
        char valueName[1024];
        DWORD nameLength = sizeof(valueName);
        BYTE data[4096];
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(key, i, valueName, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        std::string hex;
        char byte[3];
        for (DWORD k = 0; k < size; ++k) {
            snprintf(byte, sizeof(byte), "%02x", data[k]);
            hex += byte;
        }
        std::string id = "V " + path + "\t" + valueName;
        lines[id] = id + "\t" + std::to_string(type) + "\t" + hex;
    }
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char child[512];
        DWORD length = sizeof(child);
        if (RegEnumKeyExA(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.push_back(child);
    }
    for (const std::string& child : children) Export(key, child, path + "\\" + child, lines);
    RegCloseKey(key);
}

inline void ListFiles(const std::string& folder, std::set<std::string>& files)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.insert(Lower(folder + "\\" + found.cFileName));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace detail

// Seeds and removes the installation; keeps what the prefix held before in
// the shared keys (ComDB and class keys of the current control set, Ports
// COM1:) to put it back at the end.
class Installation {
public:
    Installation()
    {
        char dir[MAX_PATH];
        UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
        windows_.assign(dir, n);
        lastGoodCreated_ = GetFileAttributesA((windows_ + "\\LastGood").c_str()) == INVALID_FILE_ATTRIBUTES;
        for (const char* sub : {"\\LastGood", "\\LastGood\\INF", "\\LastGood\\SYSTEM32", "\\LastGood\\SYSTEM32\\DRIVERS"})
            CreateDirectoryA((windows_ + sub).c_str(), nullptr);
        hadComDb_ = detail::GetValue(Arbiter(2), "ComDB", &savedComDb_);
        std::vector<BYTE> unused;
        hadCom1_ = detail::GetValue(kPortsKey, "COM1:", &unused);
        for (const char* guid : {kUsb, kModem, kPorts}) {
            std::string key = std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") + guid;
            if (!detail::KeyExists(key)) createdClassKeys_.push_back(key);
        }
        Clean();
    }
    ~Installation()
    {
        Clean();
        if (hadComDb_) {
            detail::SetValue(Arbiter(2), "ComDB", REG_BINARY, savedComDb_.data(), static_cast<DWORD>(savedComDb_.size()));
        } else {
            detail::DeleteTree(Arbiter(2));
        }
        for (const std::string& key : createdClassKeys_) detail::DeleteTree(key);
        if (!hadCom1_) detail::DeleteValue(kPortsKey, "COM1:");
        if (lastGoodCreated_) {
            for (const char* sub : {"\\LastGood\\SYSTEM32\\DRIVERS", "\\LastGood\\SYSTEM32", "\\LastGood\\INF", "\\LastGood"})
                RemoveDirectoryA((windows_ + sub).c_str());
        }
    }

    void Clean()
    {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager) {
            for (const char* name : kPhoneServices) detail::DeleteServiceNamed(manager, name);
            for (const char* name : kOtherServices) detail::DeleteServiceNamed(manager, name);
            CloseServiceHandle(manager);
        }
        detail::DeleteTree("SYSTEM\\ControlSet001");
        detail::DeleteTree("SYSTEM\\ControlSet002");
        detail::DeleteTree("SYSTEM\\LastKnownGoodRecovery");
        detail::DeleteTree("SOFTWARE\\TAVRO");
        const std::string current = "SYSTEM\\CurrentControlSet\\";
        for (const std::vector<const Device*>& group : {Phone(), Others()}) {
            for (const Device* d : group) {
                detail::DeleteTree(current + "Enum\\USB\\" + d->id);
                detail::DeleteTree(current + "Control\\Class\\" + d->classGuid + "\\" + d->driver);
                if (d->interfaceClass)
                    detail::DeleteTree(current + "Control\\DeviceClasses\\" + d->interfaceClass + "\\" +
                                       detail::InterfaceName(*d));
            }
        }
        for (const char* name : kPhoneServices) detail::DeleteTree(current + "Services\\" + name);
        for (const char* name : kOtherServices) detail::DeleteTree(current + "Services\\" + name);
        for (const char* port : {"COM5:", "COM10:", "COM12:", "COM21:", "COM50:"}) detail::DeleteValue(kPortsKey, port);
        detail::DeleteTree(std::string(kUnimodemKey) + "\\" + kPhoneModemKey);
        detail::DeleteTree(std::string(kUnimodemKey) + "\\" + kOtherModemKey);
        for (const std::string& file : SeededFiles()) detail::RemoveFile(file);
    }

    bool Seed(std::string* problem)
    {
        using namespace detail;
        bool ok = true;
        auto check = [&](bool step, const std::string& what) {
            if (!step && ok) *problem = "cannot seed " + what;
            ok = ok && step;
        };
        for (const std::vector<const Device*>& group : {Phone(), Others()})
            for (const Device* d : group) check(CreateDeviceNode(*d), std::string("device ") + d->id);
        for (int set = 0; set < 3; ++set) {
            std::string control = std::string("SYSTEM\\") + kControlSets[set] + "\\Control";
            for (const std::vector<const Device*>& group : {Phone(), Others()}) {
                for (const Device* d : group) {
                    std::string key = std::string("SYSTEM\\") + kControlSets[set] + "\\Enum\\USB\\" + d->id + "\\" + d->instance;
                    check(SetText(key, "Driver", std::string(d->classGuid) + "\\" + d->driver), key);
                    check(SetText(key, "Mfg", "TAVRO"), key);
                    // Wine writes the class name into a device's key when it lists it.
                    check(SetText(key, "Class", ClassName(d->classGuid)), key);
                    if (d->port) {
                        check(SetText(key + "\\Device Parameters", "PortName", d->port), key);
                    } else {
                        check(SetDword(key + "\\Device Parameters", "SelectiveSuspendEnabled", 1), key);
                    }
                    std::string driver = control + "\\Class\\" + d->classGuid + "\\" + d->driver;
                    check(SetText(driver, "InfPath", std::string(d->infStem) + ".inf"), driver);
                    check(SetText(driver, "DriverDesc", d->description), driver);
                    check(SetText(driver + "\\Settings", "Prefix", "AT"), driver);
                    if (d->interfaceClass) {
                        std::string iface = control + "\\DeviceClasses\\" + d->interfaceClass + "\\" + InterfaceName(*d);
                        check(SetText(iface, "DeviceInstance", std::string("USB\\") + d->id + "\\" + d->instance), iface);
                        check(SetDword(iface + "\\#\\Control", "Linked", 0), iface);
                    }
                }
            }
            if (set < 2) {
                check(SetText(control + "\\Class\\" + kModem, "Class", "Modem"), "class");
                check(SetText(control + "\\Class\\" + kPorts, "Class", "Ports"), "class");
                check(SetText(control + "\\Class\\" + kUsb, "Class", "USB"), "class");
            }
            std::vector<BYTE> comDb = ComDb(true, true);
            check(SetValue(Arbiter(set), "ComDB", REG_BINARY, comDb.data(), static_cast<DWORD>(comDb.size())), "ComDB");
            if (set < 2) {
                for (const std::vector<const char*>& names : {Names(kPhoneServices), Names(kOtherServices)}) {
                    for (const char* name : names) {
                        std::string key = std::string("SYSTEM\\") + kControlSets[set] + "\\Services\\" + name;
                        check(SetDword(key, "Type", 1) && SetDword(key + "\\Enum", "Count", 1), key);
                    }
                }
            }
        }
        for (const std::string& key : createdClassKeys_) check(SetText(key, "Class", ClassName(key)), key);
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        check(manager != nullptr, "service manager");
        for (const std::vector<const char*>& names : {Names(kPhoneServices), Names(kOtherServices)}) {
            for (const char* name : names) {
                if (!manager) break;
                std::string binary = std::string("system32\\DRIVERS\\") + name + ".sys";
                SC_HANDLE service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                                   SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.c_str(),
                                                   nullptr, nullptr, nullptr, nullptr, nullptr);
                check(service != nullptr, std::string("service ") + name);
                if (service) CloseServiceHandle(service);
            }
        }
        if (manager) CloseServiceHandle(manager);
        for (const char* port : {"COM5:", "COM10:", "COM12:", "COM21:", "COM50:"})
            check(SetText(kPortsKey, port, "9600,n,8,1"), port);
        if (!hadCom1_) check(SetText(kPortsKey, "COM1:", "9600,n,8,1"), "COM1:");
        for (const char* name : kLastGoodValues) check(SetDword(kLastGoodKey, name, 1), name);
        for (const char* modem : {kPhoneModemKey, kOtherModemKey}) {
            std::string key = std::string(kUnimodemKey) + "\\" + modem;
            check(SetDword(key, "Calls", 3) && SetText(key + "\\Init", "1", "ATZ"), key);
        }
        check(SetDword(kProductKey, "InstallFlag", 1) && SetText(kProductKey, "Version", "9.0.0.1"), "product key");
        check(SetDword("SOFTWARE\\TAVRO\\Other Product", "InstallFlag", 1), "other product");
        for (const char* folder : {"\\inf\\", "\\LastGood\\INF\\"}) {
            for (const char* stem : kPhoneStems) {
                check(WriteText(windows_ + folder + stem + ".inf", InfText("USB\\VID_1B3F&PID_5C13&MI_01")), stem);
                check(WriteText(windows_ + folder + stem + ".PNF", "PNF"), stem);
            }
            check(WriteText(windows_ + folder + "oem1.inf", InfText("USB\\VID_1B3F&PID_5C14")), "oem1");
            check(WriteText(windows_ + folder + "oem120.inf", InfText("USB\\VID_0403&PID_6001")), "oem120");
            for (const char* stem : kOtherStems) check(WriteText(windows_ + folder + stem + ".PNF", "PNF"), stem);
        }
        for (const char* folder : {"\\system32\\drivers\\", "\\LastGood\\SYSTEM32\\DRIVERS\\"}) {
            for (const std::vector<const char*>& names : {Names(kDriverFiles), Names(kOtherDriverFiles)})
                for (const char* name : names) check(WriteText(windows_ + folder + name, name), name);
            check(SetFileAttributesA((windows_ + folder + "TVymdm.sys").c_str(), FILE_ATTRIBUTE_READONLY) != 0,
                  "read-only TVymdm.sys");
        }
        return ok;
    }

    Snapshot Take() const
    {
        Snapshot snapshot;
        for (const std::string& root :
             {std::string("SYSTEM\\ControlSet001"), std::string("SYSTEM\\ControlSet002"),
              std::string("SYSTEM\\CurrentControlSet\\Enum\\USB"), std::string("SYSTEM\\CurrentControlSet\\Control\\Class"),
              std::string("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses"),
              std::string("SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter"),
              std::string("SYSTEM\\CurrentControlSet\\Services"), std::string("SYSTEM\\LastKnownGoodRecovery"),
              std::string(kPortsKey), std::string(kUnimodemKey), std::string("SOFTWARE\\TAVRO")})
            detail::Export(HKEY_LOCAL_MACHINE, root, root, snapshot.registry);
        for (const char* folder : {"\\inf", "\\LastGood\\INF", "\\system32\\drivers", "\\LastGood\\SYSTEM32\\DRIVERS"})
            detail::ListFiles(windows_ + folder, snapshot.files);
        return snapshot;
    }

    const std::string& WindowsDir() const { return windows_; }

    // Every difference that is not the phone's, one line each.
    std::vector<std::string> ForeignChanges(const Snapshot& before, const Snapshot& after) const
    {
        std::vector<std::string> changes;
        for (const auto& [id, line] : before.registry) {
            auto now = after.registry.find(id);
            if (now != after.registry.end() && now->second == line) continue;
            if (id[0] == 'K') {
                if (!detail::PhoneKey(id.substr(2))) changes.push_back("key deleted: " + id);
                continue;
            }
            size_t tab = id.find('\t');
            std::string path = id.substr(2, tab - 2), name = id.substr(tab + 1);
            if (now == after.registry.end()) {
                if (!detail::PhoneValue(path, name)) changes.push_back("value deleted: " + line);
            } else if (!detail::PhoneKey(path) && !detail::AllowedChange(path, name, line, now->second)) {
                changes.push_back("value changed: " + line + " -> " + now->second);
            }
        }
        for (const auto& [id, line] : after.registry)
            if (!before.registry.count(id)) changes.push_back("added: " + line);
        for (const std::string& file : before.files)
            if (!after.files.count(file) && !PhoneFile(file)) changes.push_back("file deleted: " + file);
        for (const std::string& file : after.files)
            if (!before.files.count(file)) changes.push_back("file added: " + file);
        return changes;
    }

private:
    static std::vector<const Device*> Phone()
    {
        std::vector<const Device*> list;
        for (const Device& d : kPhone) list.push_back(&d);
        return list;
    }
    static std::vector<const Device*> Others()
    {
        std::vector<const Device*> list;
        for (const Device& d : kOthers) list.push_back(&d);
        return list;
    }
    template <size_t N>
    static std::vector<const char*> Names(const char* const (&names)[N])
    {
        return std::vector<const char*>(names, names + N);
    }
    static std::string Arbiter(int set)
    {
        return std::string("SYSTEM\\") + kControlSets[set] + "\\Control\\COM Name Arbiter";
    }
    static std::string ClassName(const std::string& key)
    {
        if (key.find(kModem) != std::string::npos) return "Modem";
        return key.find(kPorts) != std::string::npos ? "Ports" : "USB";
    }
    std::vector<std::string> SeededFiles() const
    {
        std::vector<std::string> files;
        for (const char* folder : {"\\inf\\", "\\LastGood\\INF\\"}) {
            for (const char* stem : kPhoneStems)
                for (const char* ext : {".inf", ".PNF"}) files.push_back(windows_ + folder + stem + ext);
            for (const char* stem : kOtherStems)
                for (const char* ext : {".inf", ".PNF"}) files.push_back(windows_ + folder + stem + ext);
        }
        for (const char* folder : {"\\system32\\drivers\\", "\\LastGood\\SYSTEM32\\DRIVERS\\"}) {
            for (const char* name : kDriverFiles) files.push_back(windows_ + folder + name);
            for (const char* name : kOtherDriverFiles) files.push_back(windows_ + folder + name);
        }
        return files;
    }
    bool PhoneFile(const std::string& lowerPath) const
    {
        for (const char* folder : {"\\inf\\", "\\lastgood\\inf\\"})
            for (const char* stem : kPhoneStems)
                for (const char* ext : {".inf", ".pnf"})
                    if (lowerPath == detail::Lower(windows_ + folder + stem + ext)) return true;
        for (const char* folder : {"\\system32\\drivers\\", "\\lastgood\\system32\\drivers\\"})
            for (const char* name : kDriverFiles)
                if (lowerPath == detail::Lower(windows_ + folder + name)) return true;
        return false;
    }

    std::string windows_;
    bool lastGoodCreated_ = false;
    std::vector<std::string> createdClassKeys_;
    std::vector<BYTE> savedComDb_;
    bool hadComDb_ = false;
    bool hadCom1_ = false;
};

}  // namespace faults
