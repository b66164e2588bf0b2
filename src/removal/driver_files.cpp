// Driver binaries of earlier installations, deleted by name from the
// driver folder and, on Windows XP, from its last-known-good copy.
#include <windows.h>

#include "removal/removal.h"
#include "shell/osclass.h"
#include "shell/paths.h"
#include "shell/text.h"
#include "staging/inf_stager.h"

namespace {

// directory + "\" + name; 0 when it does not fit.
int MakeDriverFilePath(char (&path)[PATH_BUFFER], const char* directory, const char* name)
{
    if (!CopyBounded(path, directory, PATH_MAX_CHARS)) return 0;
    if (!AddBackslash(path, PATH_BUFFER)) return 0;
    return AppendString(name, path) != 0;
}

}  // namespace

int DriverRemover::RemoveDriverFiles()
{
    if (osClass_ < OsWin2000) return 1;  // nothing of this kind before Windows 2000
    InfStager stager(osClass_);
    char driversDir[PATH_BUFFER] = {};
    if (!stager.GetDriversDir(driversDir)) return 0;
    for (const char* name : driverFileNames) {
        char path[PATH_BUFFER] = {};
        if (!MakeDriverFilePath(path, driversDir, name)) return 0;
        // A file in use stays; the next name is still handled.
        stager.DeleteFileForced(path);
        if (osClass_ != OsWinXP) continue;
        char lastGoodDir[PATH_BUFFER] = {};
        if (!stager.GetLastGoodDriversDir(lastGoodDir)) return 0;
        if (!MakeDriverFilePath(path, lastGoodDir, name)) return 0;
        stager.DeleteFileForced(path);
    }
    return 1;
}
