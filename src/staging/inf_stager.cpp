// Stale OEM copies of the phone's INF files out, the four packages into the
// driver store.
#include "staging/inf_stager.h"

#include <windows.h>
#include <setupapi.h>

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/handles.h"
#include "shell/msgbox.h"
#include "shell/paths.h"
#include "shell/text.h"

namespace {

// A package without its catalog fails quietly: the caller's box that the
// drivers could not be set up follows anyway.
const DWORD kNoCatalogForOemInf = 0xE000022F;

// Index of the last single-byte backslash before `end`, or -1.
int LastBackslashBefore(const char* text, int end)
{
    int found = -1;
    for (int i = 0; i < end; ++i) {
        if (text[i] == '\\' && DbcsStateAt(text, i) == 0) found = i;
    }
    return found;
}

// folder + "\" + name; 0 when it would not fit whole.
int JoinPath(char (&path)[PATH_BUFFER], const char* folder, const char* name)
{
    if (!CopyBounded(path, folder, PATH_MAX_CHARS)) return 0;
    AddBackslash(path, PATH_BUFFER);
    int length = lstrlenA(path);
    if (length == 0 || path[length - 1] != '\\' || DbcsStateAt(path, length - 1) != 0) return 0;
    return AppendString(name, path) != 0;
}

}  // namespace

int InfStager::RunStaging()
{
    // Nothing is staged on the 9x family and NT 4, so nothing was set up.
    if (osClass_ <= 10) return 0;
    RemoveStaleOemInfs();  // copying goes on even when the clean-up stopped
    return CopyPackagesToStore();
}

int InfStager::RemoveStaleOemInfs()
{
    char folder[PATH_BUFFER] = {};
    if (!GetInfDir(folder)) return 0;
    RemoveBackslash(folder);

    char pattern[PATH_BUFFER] = {};
    if (!CopyBounded(pattern, folder, PATH_MAX_CHARS)) return 0;
    if (AppendString("\\oem*.inf", pattern) == 0) return 0;

    WIN32_FIND_DATAA found;
    UniqueFindHandle search(FindFirstFileA(pattern, &found));
    if (!search) return 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        char path[PATH_BUFFER] = {};
        // A name too long for the buffer is no copy of ours; never cut it
        // into the name of another file.
        if (!JoinPath(path, folder, found.cFileName)) continue;
        if (IsPhoneInf(path) != 1) continue;
        // The precompiled companion first: a copy kept because its .PNF
        // could not go is found again by the next scan, while a .PNF left
        // behind its copy would stay for good.
        char companion[PATH_BUFFER] = {};
        CopyBounded(companion, path, PATH_MAX_CHARS);
        if (ReplaceExtension(companion, ".PNF", PATH_MAX_CHARS) == 1 && !DeleteFileForced(companion)) return 0;
        if (!DeleteFileForced(path)) return 0;
    } while (FindNextFileA(search.Get(), &found));
    return 1;
}

int InfStager::CopyPackagesToStore()
{
    char source[PATH_BUFFER] = {};
    if (!GetPackageSourceDir(source)) return 0;
    AddBackslash(source, PATH_BUFFER);

    for (const char* name : packageInfNames) {
        char path[PATH_BUFFER] = {};
        if (!JoinPath(path, source, name)) return 0;
        if (!SetupCopyOEMInfA(path, nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr)) {
            DWORD error = GetLastError();
            if (error != 0 && error != kNoCatalogForOemInf) ShowSystemError(error);
            return 0;
        }
    }
    return 1;
}

int InfStager::GetPackageSourceDir(char* output)
{
    output[0] = '\0';
    char name[PATH_BUFFER] = {};
    if (LoadText(IDS_PACKAGE_DIR, name) == 0) return 0;

    char folder[PATH_BUFFER] = {};
    CopyBounded(folder, App().programDir, PATH_MAX_CHARS);
    int length = lstrlenA(folder);
    // Without the program's folder there is no folder beside it.
    if (length == 0) return 0;
    // Drop the trailing backslash, then the program's own folder name.
    int cut = LastBackslashBefore(folder, length - 1);
    if (cut >= 0) {
        folder[cut] = '\0';
    } else {
        folder[DbcsStateAt(folder, length - 1) == 2 ? length - 2 : length - 1] = '\0';
    }

    if (!AppendBounded(folder, "\\", PATH_MAX_CHARS)) return 0;
    if (!AppendBounded(folder, name, PATH_MAX_CHARS)) return 0;
    return CopyBounded(output, folder, PATH_MAX_CHARS);
}
