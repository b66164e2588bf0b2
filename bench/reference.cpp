// The reference removal of the benchmark. It leaves the machine as
// Quellin9.exe /R leaves it on Windows XP (InstallFlag, INF copies, driver
// files, the phone's device nodes, services and every registry entry of the
// purge), but reads each value it must test once and deletes each tree with
// one RegDeleteTreeA:
//   - one listing of every device serves both device steps;
//   - the device keys of the phone are read once per control set, giving the
//     driver keys, the ports and the INF names in one walk;
//   - every interface instance is read once per control set (the bare
//     identifier is the only pattern that can match an upper-cased value);
//   - value lists (Ports, LastGood) are walked once for all their patterns;
//   - no grants: the administrator may delete the keys as they stand here.
// It is a benchmark yardstick, not product code: it uses the STL freely.
#include "reference.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kSets[3] = {"ControlSet001", "ControlSet002", "CurrentControlSet"};
const char* const kIds[4] = {"VID_1B3F&PID_5C13", "VID_1B3F&PID_5C13&Mi_01", "VID_1B3F&PID_5C13&Mi_03",
                             "VID_1B3F&PID_5C13&Mi_05"};
const char kPhone[] = "VID_1B3F&PID_5C13";
const char kUsbHardwareId[] = "USB\\VID_1B3F&PID_5C13";
const char kModemDescription[] = "TV4170K USB Modem";
const char* const kServices[4] = {"TVybus", "TVymdfl", "TVymdm", "TVyobex"};
const char* const kDriverFiles[9] = {"TVybus.sys",  "TVycm.sys",   "TVycmnt.sys", "TVymdfl.sys", "TVymdm.sys",
                                     "TVymgmt.sys", "TVyobex.sys", "TVywh.sys",   "TVywhnt.sys"};
const char kProductKey[] = "SOFTWARE\\TAVRO\\TAVRO GSM GPRS USB Driver TV4170K";
const char kPortsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const char kLastGoodKey[] = "SYSTEM\\LastKnownGoodRecovery\\LastGood";
const char kModemKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific\\TV4170K USB Modem::TAVRO::TAVRO";

int failures = 0;

void Report(const std::string& what, long code)
{
    std::fprintf(stderr, "reference: %s: %ld\n", what.c_str(), code);
    ++failures;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The program's matching rule: contained, and with digitBoundary no digit
// right after the match (COM1 is not COM10).
bool Contains(const std::string& upperText, const std::string& upperPattern, bool digitBoundary)
{
    if (upperPattern.empty()) return false;
    for (size_t at = upperText.find(upperPattern); at != std::string::npos;
         at = upperText.find(upperPattern, at + 1)) {
        char next = at + upperPattern.size() < upperText.size() ? upperText[at + upperPattern.size()] : '\0';
        if (!digitBoundary || next < '0' || next > '9') return true;
    }
    return false;
}

// One read of a value of an open key; false when it is not there.
bool QueryValue(HKEY key, const char* name, std::string* data, DWORD* type = nullptr)
{
    char buffer[2048];
    DWORD size = sizeof(buffer) - 2;
    DWORD valueType = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &valueType, reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND) Report(std::string("read ") + name, status);
        return false;
    }
    buffer[size] = buffer[size + 1] = '\0';
    data->assign(buffer, size);
    if (type) *type = valueType;
    return true;
}

std::string TextOf(const std::string& data) { return std::string(data.c_str()); }

std::vector<std::string> MultiText(const std::string& data)
{
    std::vector<std::string> texts;
    for (size_t at = 0; at < data.size() && data[at] != '\0';) {
        std::string text(data.c_str() + at);
        texts.push_back(text);
        at += text.size() + 1;
    }
    return texts;
}

HKEY Open(HKEY parent, const std::string& path, REGSAM access = KEY_READ)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(parent, path.c_str(), 0, access, &key);
    if (status == ERROR_SUCCESS) return key;
    if (status != ERROR_FILE_NOT_FOUND) Report("open " + path, status);
    return nullptr;
}

// Subkey names by index until the list ends.
std::vector<std::string> SubKeys(HKEY key)
{
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD length = sizeof(name);
        LONG status = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) {
            Report("list subkeys", status);
            break;
        }
        names.push_back(name);
    }
    return names;
}

void DeleteTree(HKEY parent, const std::string& path)
{
    LONG status = RegDeleteTreeA(parent, path.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) Report("delete " + path, status);
}

void AddOnce(std::vector<std::string>& list, const std::string& item)
{
    for (const std::string& existing : list)
        if (existing == item) return;
    list.push_back(item);
}

// What the device keys of one control set name.
struct SetFindings {
    std::vector<std::string> driverKeys;  // "{class}\number"
    std::vector<long> ports;
};

struct Findings {
    SetFindings sets[3];
    std::vector<std::string> portNames;
    std::vector<std::string> infStems;  // the phone's, decided before anything is deleted
};

bool IsPhoneInf(const std::string& path);
std::string WindowsDir();

// The program's rule: a stem is the phone's when its copy names the phone,
// or, the copy gone, when it is an OEM name; a device name never is.
bool IsPhoneStem(const std::string& stem)
{
    const std::string upper = Upper(stem);
    const std::string base = upper.substr(0, upper.find_last_not_of(' ') + 1);
    if (stem.empty() || stem.find_first_of("\\/:*?\"<>|") != std::string::npos || base == "CON" || base == "PRN" ||
        base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$" ||
        (base.size() == 4 && (!base.compare(0, 3, "COM") || !base.compare(0, 3, "LPT")) && base[3] >= '1' && base[3] <= '9'))
        return false;
    const std::string copy = WindowsDir() + "\\INF\\" + stem + ".inf";
    if (GetFileAttributesA(copy.c_str()) != INVALID_FILE_ATTRIBUTES) return IsPhoneInf(copy);
    return upper.size() > 3 && upper.compare(0, 3, "OEM") == 0 && upper.find_first_not_of("0123456789", 3) == std::string::npos;
}

// The first driver key of the instances that exists (ControlSet001) gives
// the device's INF name, as the program's driver-key INF lookup finds it.
void FindInfStem(const std::string& driver, bool* found, Findings& findings)
{
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Control\\Class\\" + driver);
    if (!key) return;
    *found = true;
    std::string data;
    if (QueryValue(key, "InfPath", &data)) {
        std::string path = TextOf(data);
        size_t dot = path.find('.');
        std::string stem = dot == std::string::npos ? "" : path.substr(0, dot);
        if (IsPhoneStem(stem)) AddOnce(findings.infStems, stem);
    }
    RegCloseKey(key);
}

// One walk over the phone's device keys of a control set: each instance's
// Driver and PortName are read once.
void ReadDeviceKeys(int set, Findings& findings)
{
    for (int id = 0; id < 4; ++id) {
        HKEY device = Open(HKEY_LOCAL_MACHINE, std::string("SYSTEM\\") + kSets[set] + "\\Enum\\USB\\" + kIds[id]);
        if (!device) continue;
        bool infFound = false;
        for (const std::string& instance : SubKeys(device)) {
            HKEY instanceKey = Open(device, instance);
            if (!instanceKey) continue;
            std::string data;
            if (QueryValue(instanceKey, "Driver", &data)) {
                std::string driver = TextOf(data);
                size_t slash = driver.find('\\');
                if (slash != std::string::npos && slash > 0 && slash + 1 < driver.size()) {
                    AddOnce(findings.sets[set].driverKeys, driver);
                    if (set == 0 && !infFound) FindInfStem(driver, &infFound, findings);
                }
            }
            if (id > 0) {
                HKEY parameters = Open(instanceKey, "Device Parameters");
                if (parameters && QueryValue(parameters, "PortName", &data)) {
                    std::string port = TextOf(data);
                    long number = port.size() > 3 ? std::atol(port.c_str() + 3) : 0;
                    if (number > 0) {
                        findings.sets[set].ports.push_back(number);
                        AddOnce(findings.portNames, port);
                    }
                }
                if (parameters) RegCloseKey(parameters);
            }
            RegCloseKey(instanceKey);
        }
        RegCloseKey(device);
    }
}

void ResetInstallFlag()
{
    HKEY key = Open(HKEY_LOCAL_MACHINE, kProductKey, KEY_ALL_ACCESS);
    if (!key) return;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key, "InstallFlag", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
        ERROR_SUCCESS) {
        value = 0;
        RegSetValueExA(key, "InstallFlag", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof(value));
    }
    RegCloseKey(key);
}

std::string WindowsDir()
{
    char path[MAX_PATH] = {};
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

void DeleteFileForced(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(path.c_str())) Report("delete file " + path, static_cast<long>(GetLastError()));
}

void DeleteFiles(const Findings& findings)
{
    std::string windows = WindowsDir();
    for (const std::string& stem : findings.infStems) {
        for (const char* folder : {"\\INF\\", "\\LastGood\\INF\\"}) {
            DeleteFileForced(windows + folder + stem + ".inf");
            DeleteFileForced(windows + folder + stem + ".PNF");
        }
    }
    for (const char* name : kDriverFiles) {
        DeleteFileForced(windows + "\\SYSTEM32\\DRIVERS\\" + name);
        DeleteFileForced(windows + "\\LastGood\\SYSTEM32\\DRIVERS\\" + name);
    }
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property)
{
    char buffer[4096] = {};
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                           sizeof(buffer) - 2, &size))
        return "";
    return std::string(buffer, size);
}

// The nodes the program's class-installer steps remove, from one listing of
// every device, connected or not, of any class and enumerator (a phone node
// may be a ROOT one): a modem by its description and first hardware id, and
// a connected device that lists the phone's whole id.
void RemoveDeviceNodes()
{
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return Report("list devices", static_cast<long>(GetLastError()));
    SP_DEVINFO_DATA device = {sizeof(device), {}, 0, 0};
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const std::vector<std::string> ids = MultiText(DeviceProperty(set, &device, SPDRP_HARDWAREID));
        bool remove = !ids.empty() && TextOf(DeviceProperty(set, &device, SPDRP_DEVICEDESC)) == kModemDescription &&
                      Contains(Upper(ids[0]), kPhone, false);
        ULONG status = 0, problem = 0;
        for (const std::string& id : ids)
            remove = remove || (lstrcmpiA(id.c_str(), kUsbHardwareId) == 0 &&
                                CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) == CR_SUCCESS);
        if (remove && !SetupDiCallClassInstaller(DIF_REMOVE, set, &device))
            Report("remove a device", static_cast<long>(GetLastError()));
    }
    SetupDiDestroyDeviceInfoList(set);
}

void DeleteServices()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        Report("open the service manager", static_cast<long>(GetLastError()));
        return;
    }
    for (const char* name : kServices) {
        SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
        if (!service) continue;
        if (!DeleteService(service)) Report(std::string("delete service ") + name, static_cast<long>(GetLastError()));
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

// One walk over the values of a key, deleting those that contain any of
// the patterns.
void DeleteMatchingValues(const char* path, const std::vector<std::string>& patterns)
{
    if (patterns.empty()) return;
    HKEY key = Open(HKEY_LOCAL_MACHINE, path, KEY_READ | KEY_WRITE);
    if (!key) return;
    std::vector<std::string> doomed;
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD length = sizeof(name);
        LONG status = RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) {
            Report(std::string("list values of ") + path, status);
            break;
        }
        std::string upper = Upper(name);
        for (const std::string& pattern : patterns) {
            if (Contains(upper, Upper(pattern), true)) {
                doomed.push_back(name);
                break;
            }
        }
    }
    for (const std::string& name : doomed) {
        LONG status = RegDeleteValueA(key, name.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) Report("delete value " + name, status);
    }
    RegCloseKey(key);
}

void ReleaseComDbPorts(int set, const std::vector<long>& ports)
{
    if (ports.empty()) return;
    HKEY arbiter = Open(HKEY_LOCAL_MACHINE, std::string("SYSTEM\\") + kSets[set] + "\\Control\\COM Name Arbiter",
                        KEY_READ | KEY_WRITE);
    if (!arbiter) return;
    std::string data;
    DWORD type = 0;
    if (QueryValue(arbiter, "ComDB", &data, &type)) {
        std::string before = data;
        for (long port : ports) {
            size_t byte = static_cast<size_t>(port - 1) / 8;
            if (byte < data.size()) data[byte] = static_cast<char>(data[byte] & ~(1 << ((port - 1) % 8)));
        }
        if (data != before)
            RegSetValueExA(arbiter, "ComDB", 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()));
    }
    RegCloseKey(arbiter);
}

// Every interface instance of the control set is read once; the phone's are
// deleted after their class has been listed, so no index moves mid-walk.
void PurgeDeviceInterfaces(int set)
{
    HKEY classes = Open(HKEY_LOCAL_MACHINE, std::string("SYSTEM\\") + kSets[set] + "\\Control\\DeviceClasses");
    if (!classes) return;
    for (const std::string& className : SubKeys(classes)) {
        HKEY classKey = Open(classes, className);
        if (!classKey) continue;
        std::vector<std::string> doomed;
        for (const std::string& instance : SubKeys(classKey)) {
            HKEY instanceKey = Open(classKey, instance);
            if (!instanceKey) continue;
            std::string data;
            if (QueryValue(instanceKey, "DeviceInstance", &data) && Contains(Upper(TextOf(data)), kPhone, false))
                doomed.push_back(instance);
            RegCloseKey(instanceKey);
        }
        for (const std::string& instance : doomed) DeleteTree(classKey, instance);
        RegCloseKey(classKey);
    }
    RegCloseKey(classes);
}

bool IsPhoneInf(const std::string& path)
{
    HINF inf = SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE) return false;
    bool phone = false;
    INFCONTEXT line;
    char field[1024] = "";
    if (SetupFindFirstLineA(inf, "Tavro_wmc", nullptr, &line) &&
        SetupGetStringFieldA(&line, 2, field, sizeof(field), nullptr))
        phone = Contains(Upper(field), kPhone, false);
    SetupCloseInfFile(inf);
    return phone;
}

void RemoveStaleOemInfs()
{
    std::string folder = WindowsDir() + "\\INF\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "oem*.inf").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    for (const std::string& name : names) {
        std::string path = folder + name;
        if (!IsPhoneInf(path)) continue;
        DeleteFileForced(path);
        DeleteFileForced(path.substr(0, path.size() - 4) + ".PNF");
    }
}

BOOL CALLBACK NotifyIfLauncher(HWND window, LPCSTR name, HANDLE)
{
    if (reinterpret_cast<ULONG_PTR>(name) >= 0xC000 && lstrcmpA(name, "CDROMLauncher") == 0)
        SendMessageA(window, WM_DEVICECHANGE, 0, 0);
    return TRUE;
}

BOOL CALLBACK VisitWindow(HWND window, LPARAM)
{
    EnumPropsA(window, NotifyIfLauncher);
    return TRUE;
}

}  // namespace

int RunReferenceRemoval(void (*phaseDone)(const char* name))
{
    auto done = [phaseDone](const char* name) {
        if (phaseDone) phaseDone(name);
    };
    failures = 0;
    Findings findings;
    ResetInstallFlag();
    // The class installer below changes only the current control set, so
    // the other two are read now, together with the INF names.
    ReadDeviceKeys(0, findings);
    ReadDeviceKeys(1, findings);
    done("install_flag_and_device_keys");
    DeleteFiles(findings);
    done("inf_and_driver_files");
    RemoveDeviceNodes();
    done("device_nodes");
    DeleteServices();
    done("services");
    ReadDeviceKeys(2, findings);
    for (int set = 0; set < 3; ++set) ReleaseComDbPorts(set, findings.sets[set].ports);
    DeleteMatchingValues(kPortsKey, findings.portNames);
    for (const char* name : kServices)
        DeleteTree(HKEY_LOCAL_MACHINE, std::string("SYSTEM\\ControlSet002\\Services\\") + name);
    DeleteMatchingValues(kLastGoodKey, findings.infStems);
    done("purge_ports_services_lastgood");
    for (int set = 0; set < 3; ++set) PurgeDeviceInterfaces(set);
    done("purge_interfaces");
    for (int set = 0; set < 3; ++set)
        for (const std::string& driver : findings.sets[set].driverKeys)
            DeleteTree(HKEY_LOCAL_MACHINE, std::string("SYSTEM\\") + kSets[set] + "\\Control\\Class\\" + driver);
    for (int set = 0; set < 3; ++set)
        for (const char* id : kIds)
            DeleteTree(HKEY_LOCAL_MACHINE, std::string("SYSTEM\\") + kSets[set] + "\\Enum\\USB\\" + id);
    DeleteTree(HKEY_LOCAL_MACHINE, kModemKey);
    done("purge_driver_device_modem_keys");
    RemoveStaleOemInfs();
    done("stale_oem_infs");
    EnumWindows(VisitWindow, 0);
    done("launcher");
    return failures;
}
