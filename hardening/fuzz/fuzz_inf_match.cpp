// IsPhoneInf on any INF text, or on a model line whose first hardware id is
// any bytes. The stand-in's INF reader gives the field as SetupAPI would.
// Invariants: the answer is 1 exactly when field 2 of the first line of
// [Tavro_wmc] fits the 1024-byte field buffer and, upper-cased on its
// single-byte characters only, holds "VID_1B3F&PID_5C13" starting on a
// character boundary; the INF handle is closed on every path.
#include <setupapi.h>

#include <string>

#include "fuzz/common.h"
#include "staging/inf_stager.h"

namespace {

const char kPath[] = "C:\\WINDOWS\\INF\\oem9.inf";

int Expected()
{
    HINF inf = SetupOpenInfFileA(kPath, nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE) return 0;
    INFCONTEXT line;
    std::string field;
    bool found = false;
    if (SetupFindFirstLineA(inf, "Tavro_wmc", nullptr, &line)) {
        DWORD needed = 0;
        if (SetupGetStringFieldA(&line, 2, nullptr, 0, &needed)) {
            field.assign(needed, '\0');
            found = SetupGetStringFieldA(&line, 2, &field[0], needed, nullptr) != 0;
            field.resize(needed ? needed - 1 : 0);
        }
    }
    SetupCloseInfFile(inf);
    if (!found || field.size() > 1023) return 0;
    std::string kinds = Kinds(field);
    for (size_t i = 0; i < field.size(); ++i)
        if (kinds[i] == 0 && field[i] >= 'a' && field[i] <= 'z') field[i] = static_cast<char>(field[i] - 32);
    const std::string id = "VID_1B3F&PID_5C13";
    for (size_t at = field.find(id); at != std::string::npos; at = field.find(id, at + 1))
        if (kinds[at] != 2) return 1;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = (NormalStart(), true);
    (void)started;
    FuzzInput input(data, size, 1);
    const bool raw = input.Byte(0) & 1;
    std::string first = input.Text();
    std::string rest = input.Text();
    if (first.size() + rest.size() > 6000) return 0;
    std::string text = raw ? first + rest
                           : "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Tavro_wmc]\r\n%Desc%=Port.Install," + first +
                                 "\r\n" + rest + "\r\n[Strings]\r\nDesc=\"Port\"\r\n";
    StandinClearFiles();
    StandinAddFile(kPath, text);

    InfStager stager(12);
    int result = stager.IsPhoneInf(kPath);
    CHECK(StandinOpenInfs() == 0, "%d INF handles left open", StandinOpenInfs());
    int expected = Expected();
    CHECK(result == expected, "IsPhoneInf %d, expected %d for \"%s\"", result, expected, Hex(first).c_str());
    return 0;
}
