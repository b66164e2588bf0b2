// OEM copies of the phone's INF files: deleted directly where the driver keys
// name them, or handed to the system's driver-package tool on NT 6.
#include <windows.h>
#include <setupapi.h>

#include "regpurge/registry_accessor.h"
#include "removal/removal.h"
#include "resources/ids.h"
#include "shell/handles.h"
#include "shell/msgbox.h"
#include "shell/osclass.h"
#include "shell/paths.h"
#include "shell/text.h"
#include "staging/inf_stager.h"

namespace {

const char* const infExtensions[2] = {"inf", "PNF"};
const char pnputilName[] = "pnputil.exe";
const char pnputilCommand[] = "pnputil.exe -f -d ";

// Used when the list's size cannot be asked for (Wine answers 0).
enum { INF_LIST_FALLBACK = 64 * 1024 };

// The name goes onto a command line that runs with administrator rights, and
// its file is opened: only plain file-name characters pass, and no device.
int IsPlainInfName(const char* name)
{
    if (!name[0] || IsDosDeviceName(name)) return 0;
    for (const char* p = name; *p; ++p) {
        char c = *p;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        if (!plain) return 0;
    }
    return 1;
}

// Fetches the list of Windows 4 style INF files of the folder into zero-filled
// local memory with two spare zero bytes behind it. Shows what fails.
int FetchInfList(const char* infDir, UniqueLocalMem& list, DWORD* size)
{
    DWORD required = 0;
    if (!SetupGetInfFileListA(infDir, INF_STYLE_WIN4, nullptr, 0, &required)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            ShowSystemError(error);
            return 0;
        }
    }
    // An answer below two bytes says nothing about the list.
    DWORD capacity = required < 2 ? static_cast<DWORD>(INF_LIST_FALLBACK) : required;
    for (int attempt = 0;; ++attempt) {
        list.Reset(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, capacity + 2));
        if (!list) {
            ShowSystemError(GetLastError());
            return 0;
        }
        required = 0;
        if (SetupGetInfFileListA(infDir, INF_STYLE_WIN4, static_cast<char*>(list.Get()), capacity,
                                 &required)) {
            *size = capacity;
            return 1;
        }
        DWORD error = GetLastError();
        // The folder can grow between the two questions: ask once more with
        // the size the system now reports.
        if (error == ERROR_INSUFFICIENT_BUFFER && attempt == 0 && required > capacity) {
            capacity = required;
            continue;
        }
        list.Reset();
        ShowSystemError(error);
        return 0;
    }
}

}  // namespace

int MakeInfFilePath(char* destination, const char* directory, const char* stem,
                    const char* extension)
{
    destination[0] = '\0';
    // A part that is missing or cut would name some other file.
    if (!directory[0] || !stem[0] || !extension[0]) return 0;
    if (!CopyBounded(destination, directory, PATH_MAX_CHARS)) {
        destination[0] = '\0';
        return 0;
    }
    AddBackslash(destination, PATH_BUFFER);
    if (!AppendBounded(destination, stem, PATH_MAX_CHARS) ||
        !AppendBounded(destination, ".", PATH_MAX_CHARS) ||
        !AppendBounded(destination, extension, PATH_MAX_CHARS)) {
        destination[0] = '\0';
        return 0;
    }
    return 1;
}

int DriverRemover::DeleteInfFile(const char* directory, const char* stem, const char* extension)
{
    char path[PATH_BUFFER] = {};
    if (!MakeInfFilePath(path, directory, stem, extension)) return 0;
    InfStager stager(osClass_);
    return stager.DeleteFileForced(path);
}

int DriverRemover::RemoveDriverKeyInfs()
{
    if (osClass_ < OsWin2000) return 1;  // nothing of this kind before Windows 2000
    InfStager stager(osClass_);
    RegistryAccessor accessor(osClass_);
    char infDir[PATH_BUFFER] = "";
    if (!stager.GetInfDir(infDir)) return 0;
    const bool lastGood = osClass_ == OsWinXP;
    char lastGoodInfDir[PATH_BUFFER] = "";
    if (lastGood && !stager.GetLastGoodInfDir(lastGoodInfDir)) return 0;

    for (const char* id : phoneIds) {
        char keyPath[PATH_BUFFER] = {};
        if (LoadText(IDS_ENUM_USB, keyPath) == 0 || !AddBackslash(keyPath, PATH_BUFFER) ||
            AppendString(id, keyPath) == 0)
            return 0;
        char stem[PATH_BUFFER] = {};
        accessor.FindDriverInfName(HKEY_LOCAL_MACHINE, keyPath, stem);
        // A stem that filled the whole buffer may have been cut; and the key
        // may name usb.inf or another vendor's package. Decided once, before
        // any deletion.
        if (stem[PATH_BUFFER - 1] != '\0' || stager.IsPhoneDriverStem(stem) != 1) continue;
        for (const char* extension : infExtensions) {
            DeleteInfFile(infDir, stem, extension);
            if (lastGood) DeleteInfFile(lastGoodInfDir, stem, extension);
        }
    }
    return 1;
}

int RemoveInfsWithPnputil(OsClass osClass)
{
    InfStager stager(osClass);
    char infDir[PATH_BUFFER] = "";
    if (!stager.GetInfDir(infDir)) return 0;
    UniqueLocalMem list;
    DWORD size = 0;
    if (!FetchInfList(infDir, list, &size)) return 0;

    const char* names = static_cast<const char*>(list.Get());
    for (DWORD offset = 0; offset < size && names[offset]; offset += lstrlenA(names + offset) + 1) {
        const char* name = names + offset;
        if (!IsPlainInfName(name)) continue;
        // The file that was listed is the one examined, not a namesake the
        // system would find elsewhere for a bare name.
        char path[PATH_BUFFER] = {};
        if (!CopyBounded(path, infDir, PATH_MAX_CHARS)) continue;
        AddBackslash(path, PATH_BUFFER);
        if (!AppendBounded(path, name, PATH_MAX_CHARS)) continue;
        if (stager.IsPhoneInf(path) == 1) RunPnputilDelete(name);
    }
    return 1;
}

int RunPnputilDelete(const char* infName)
{
    char commandLine[PATH_BUFFER] = {};
    if (!IsPlainInfName(infName) || !CopyBounded(commandLine, pnputilCommand, PATH_MAX_CHARS) ||
        !AppendBounded(commandLine, infName, PATH_MAX_CHARS))
        return 0;

    // The tool runs with administrator rights: start the system's own copy
    // by its full path, never one found in the program's or current folder.
    char application[PATH_BUFFER] = {};
    UINT n = GetSystemDirectoryA(application, PATH_BUFFER);
    if (n == 0 || n >= PATH_BUFFER) return 0;
    AddBackslash(application, PATH_BUFFER);
    if (!AppendBounded(application, pnputilName, PATH_MAX_CHARS)) return 0;

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                        &process)) {
        ShowSystemError(GetLastError());
        return 1;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    CloseHandle(process.hThread);
    // The next package is handed over only after this one is gone.
    WaitForSingleObject(processHandle.Get(), INFINITE);
    return 1;
}
