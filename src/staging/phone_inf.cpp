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

}  // namespace

int InfStager::IsPhoneInf(const char* infPath)
{
    char identifier[FIELD_BUFFER];
    if (CopyString(PHONE_ID, identifier) == 0 || identifier[0] == '\0') return 0;
    char section[PATH_BUFFER];
    if (LoadText(IDS_MODEL_SECTION, section) == 0 || section[0] == '\0') return 0;

    UniqueInf inf(SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr));
    if (!inf) return 0;

    INFCONTEXT line;
    if (!SetupFindFirstLineA(inf.Get(), section, nullptr, &line)) return 0;
    // Field 0 is the key, 1 the install section, 2 the first hardware id.
    char field[FIELD_BUFFER];
    field[0] = '\0';
    if (!SetupGetStringFieldA(&line, 2, field, sizeof(field), nullptr)) return 0;
    field[FIELD_BUFFER - 1] = '\0';

    // The locale's upper case, which leaves double-byte characters whole.
    CharUpperBuffA(field, static_cast<DWORD>(lstrlenA(field)));
    return ContainsText(field, identifier);
}
