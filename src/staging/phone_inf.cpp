// Recognises the phone's INF files by the first hardware id of their model
// section.
#include "staging/inf_stager.h"

#include <windows.h>
#include <setupapi.h>

#include "resources/ids.h"
#include "shell/handles.h"
#include "shell/paths.h"
#include "shell/text.h"

namespace {

enum { FIELD_BUFFER = 1024 };

// Substring search that only starts on whole characters, so the trail byte
// of a double-byte character never begins a match.
int ContainsText(const char* text, const char* wanted)
{
    int wantedLength = lstrlenA(wanted);
    if (wantedLength == 0) return 0;
    int length = lstrlenA(text);
    for (int i = 0; i + wantedLength <= length; ++i) {
        int matched = 0;
        while (matched < wantedLength && text[i + matched] == wanted[matched]) ++matched;
        if (matched == wantedLength) return 1;
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && text[i + 1] != '\0') ++i;
    }
    return 0;
}

// "oem" in any letter case followed by one or more digits and nothing else.
int IsOemStem(const char* stem)
{
    const char oem[] = "oem";
    for (int i = 0; i < 3; ++i)
        if ((stem[i] | 0x20) != oem[i]) return 0;
    if (stem[3] == '\0') return 0;
    for (const char* p = stem + 3; *p; ++p)
        if (*p < '0' || *p > '9') return 0;
    return 1;
}

// The stems whose copies were found naming the phone during this run. The
// removal deletes such a copy before the purge asks about the stem's
// last-known-good entries; the answer must not change in between.
class PhoneCopies {
public:
    int Holds(const char* stem) const
    {
        for (int i = 0; i < count_; ++i)
            if (lstrcmpiA(stems_[i], stem) == 0) return 1;
        return 0;
    }
    void Add(const char* stem)
    {
        if (Holds(stem) || count_ == kCapacity) return;
        if (CopyBounded(stems_[count_], stem, PATH_MAX_CHARS)) ++count_;
    }

private:
    enum { kCapacity = 8 };
    char stems_[kCapacity][PATH_BUFFER] = {};
    int count_ = 0;
};

PhoneCopies phoneCopies;

}  // namespace

int FilePresence(const char* path)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return 1;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
}

int IsSafeInfStem(const char* stem)
{
    for (int i = 0; stem[i]; ++i) {
        char c = stem[i];
        bool reserved = c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' ||
                        c == '<' || c == '>' || c == '|' || static_cast<unsigned char>(c) < 0x20;
        if (reserved && DbcsStateAt(stem, i) == 0) return 0;
    }
    // INF\COM1.inf is no file but the serial port.
    return stem[0] != '\0' && !IsDosDeviceName(stem);
}

int InfStager::MakeInfCopyPath(const char* stem, char* path)
{
    path[0] = '\0';
    if (!IsSafeInfStem(stem) || !GetInfDir(path)) return 0;
    AddBackslash(path, PATH_BUFFER);
    if (!AppendBounded(path, stem, PATH_MAX_CHARS) || !AppendBounded(path, ".inf", PATH_MAX_CHARS)) {
        path[0] = '\0';
        return 0;
    }
    return 1;
}

int InfStager::IsPhoneDriverStem(const char* stem)
{
    char path[PATH_BUFFER] = {0};
    if (!MakeInfCopyPath(stem, path)) return 0;
    int presence = FilePresence(path);
    if (presence == -1) return -1;
    // Gone: removed as the phone's earlier in this run, or an OEM name that
    // nothing else in the folder can claim any more.
    if (presence == 0) return IsOemStem(stem) || phoneCopies.Holds(stem);
    if (IsPhoneInf(path) != 1) return 0;
    phoneCopies.Add(stem);
    return 1;
}

int InfStager::IsPhoneInf(const char* infPath)
{
    char identifier[FIELD_BUFFER] = {};
    if (CopyString(PHONE_ID, identifier) == 0 || identifier[0] == '\0') return 0;
    char section[PATH_BUFFER] = {};
    if (LoadText(IDS_MODEL_SECTION, section) == 0 || section[0] == '\0') return 0;

    UniqueInf inf(SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr));
    if (!inf) return 0;

    INFCONTEXT line;
    if (!SetupFindFirstLineA(inf.Get(), section, nullptr, &line)) return 0;
    // Field 0 is the key, 1 the install section, 2 the first hardware id.
    char field[FIELD_BUFFER] = {};
    if (!SetupGetStringFieldA(&line, 2, field, sizeof(field), nullptr)) return 0;
    field[FIELD_BUFFER - 1] = '\0';

    // The locale's upper case, which leaves double-byte characters whole.
    CharUpperBuffA(field, static_cast<DWORD>(lstrlenA(field)));
    return ContainsText(field, identifier);
}
