// Folders below the Windows directory, and deletion of files that may be
// read-only. The removal shares these with the staging.
#include "staging/inf_stager.h"

#include "resources/ids.h"
#include "shell/handles.h"
#include "shell/paths.h"
#include "shell/text.h"

namespace {

// Appends a string resource to a path; a piece that does not fit fails
// rather than leaving a cut name behind.
int AppendResource(UINT id, char (&path)[PATH_BUFFER])
{
    char piece[PATH_BUFFER] = {};
    if (LoadText(id, piece) == 0 || piece[0] == '\0') return 0;
    int room = PATH_MAX_CHARS - lstrlenA(path);
    if (lstrlenA(piece) > room) return 0;
    return AppendBounded(path, piece, PATH_MAX_CHARS);
}

// Windows directory followed by up to two string resources (0: none).
int BuildWindowsPath(UINT first, UINT second, char* output)
{
    char path[PATH_BUFFER] = {};
    UINT n = GetWindowsDirectoryA(path, PATH_BUFFER);
    // A result as large as the buffer is the size it would need, not a path.
    if (n == 0 || n >= PATH_BUFFER) return 0;
    if (!AppendResource(first, path)) return 0;
    if (second != 0 && !AppendResource(second, path)) return 0;
    return CopyBounded(output, path, PATH_MAX_CHARS);
}

}  // namespace

int InfStager::GetDriversDir(char* output)
{
    output[0] = '\0';
    return BuildWindowsPath(IDS_DRIVERS_DIR, 0, output);
}

int InfStager::GetLastGoodDriversDir(char* output)
{
    output[0] = '\0';
    return BuildWindowsPath(IDS_LASTGOOD_DIR, IDS_DRIVERS_DIR, output);
}

int InfStager::GetInfDir(char* output)
{
    return BuildWindowsPath(IDS_INF_DIR, 0, output);
}

int InfStager::GetLastGoodInfDir(char* output)
{
    return BuildWindowsPath(IDS_LASTGOOD_DIR, IDS_INF_DIR, output);
}

int InfStager::DeleteFileForced(const char* path)
{
    WIN32_FIND_DATAA found;
    UniqueFindHandle search(FindFirstFileA(path, &found));
    if (!search) return GetLastError() == ERROR_FILE_NOT_FOUND ? 1 : 0;
    search.Reset();
    // A folder of that name is not the file asked for; leave it as it is.
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    if (!SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL)) return 0;
    return DeleteFileA(path) ? 1 : 0;
}
