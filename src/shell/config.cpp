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

void ReadName(const char* section, UINT keyId, const char* iniPath, char (&target)[17],
              UINT defaultId)
{
    char key[32];
    LoadText(keyId, key);
    char value[17];
    GetPrivateProfileStringA(section, key, "", value, sizeof(value), iniPath);
    value[sizeof(value) - 1] = '\0';
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
    char iniPath[261];
    CopyBounded(iniPath, app.programDir, 260);
    AppendString("Quellin9.ini", iniPath);

    char section[32];
    LoadText(IDS_INI_SECTION, section);

    app.iconPath[0] = '\0';
    char key[32];
    LoadText(IDS_INI_ICON, key);
    char value[261];
    GetPrivateProfileStringA(section, key, "", value, sizeof(value), iniPath);
    value[sizeof(value) - 1] = '\0';
    if (lstrlenA(value) > 0) {
        char iconPath[261];
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
    char placeholder[1024];
    LoadText(IDS_PLACEHOLDER_SERIES, placeholder);
    Placeholders().AddPlaceholder(placeholder, App().seriesName);
    LoadText(IDS_PLACEHOLDER_CATEGORY, placeholder);
    Placeholders().AddPlaceholder(placeholder, App().categoryName);
}
