#include "shell/config.h"

#include "resources/ids.h"
#include "shell/app.h"
#include "shell/paths.h"
#include "shell/text.h"

namespace {

// The profile reader cuts an over-long value at a byte count, which can
// leave the lead byte of a double-byte character alone at the end; such a
// byte would make every later conversion of the name fail.
void DropDanglingLeadByte(char* text)
{
    int n = lstrlenA(text);
    if (n > 0 && DbcsStateAt(text, n - 1) == 1) text[n - 1] = '\0';
}

// Reads a key into a zero-filled buffer and keeps only what the reader says
// it wrote: a reader that leaves the last byte alone when a double-byte
// character does not fit must not hand a stray byte on.
void ReadProfileText(const char* section, const char* key, const char* iniPath, char* value,
                     DWORD size)
{
    ZeroMemory(value, size);
    DWORD n = GetPrivateProfileStringA(section, key, "", value, size, iniPath);
    value[n < size ? n : size - 1] = '\0';
}

void ReadName(const char* section, UINT keyId, const char* iniPath, char (&target)[17],
              UINT defaultId)
{
    char key[32] = {0};
    LoadText(keyId, key);
    char value[17] = {};
    ReadProfileText(section, key, iniPath, value, sizeof(value));
    DropDanglingLeadByte(value);
    if (lstrlenA(value) > 0) {
        lstrcpynA(target, value, sizeof(target));
    } else {
        LoadText(defaultId, target);
    }
}

}  // namespace

void ReadConfiguration()
{
    ApplicationRecord& app = App();
    char iniPath[261] = {0};
    CopyBounded(iniPath, app.programDir, 260);
    AppendString("Quellin9.ini", iniPath);

    char section[32] = {0};
    LoadText(IDS_INI_SECTION, section);

    app.iconPath[0] = '\0';
    char key[32] = {0};
    LoadText(IDS_INI_ICON, key);
    char value[261] = {};
    ReadProfileText(section, key, iniPath, value, sizeof(value));
    if (lstrlenA(value) > 0) {
        char iconPath[261] = {0};
        CopyBounded(iconPath, app.programDir, 260);
        // A joined path that does not fit would name some other file.
        if (AppendBounded(iconPath, value, 260) == 1) {
            DWORD attributes = GetFileAttributesA(iconPath);
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                lstrcpyA(app.iconPath, iconPath);
        }
    }

    ReadName(section, IDS_INI_NAME, iniPath, app.seriesName, IDS_DEFAULT_SERIES);
    ReadName(section, IDS_INI_NAME2, iniPath, app.categoryName, IDS_DEFAULT_CATEGORY);

    RegisterPlaceholders();
}

void RegisterPlaceholders()
{
    char placeholder[1024] = {0};
    LoadText(IDS_PLACEHOLDER_SERIES, placeholder);
    Placeholders().AddPlaceholder(placeholder, App().seriesName);
    LoadText(IDS_PLACEHOLDER_CATEGORY, placeholder);
    Placeholders().AddPlaceholder(placeholder, App().categoryName);
}
