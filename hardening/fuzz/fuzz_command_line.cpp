// The command-line scan: any bytes, read exactly to the terminator.
// Invariants: the mode is that of the last '/' or '-' followed by I or R
// (found here by searching backwards), the version label is cleared exactly
// when some '/' or '-' is followed by V, and nothing else is changed.
#include "fuzz/common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size, 1);
    const DWORD initialLabel = input.Byte(0) & 1 ? 1 : 7;
    std::string line = input.Text();
    Block exact(line.size() + 1, line);

    DWORD label = initialLabel;
    InstallMode mode = ScanCommandLine(exact.Get(), &label);

    InstallMode expected = None;
    for (size_t i = line.size(); i-- > 0;) {
        if ((line[i] == '/' || line[i] == '-') && i + 1 < line.size()) {
            char c = line[i + 1];
            if (c == 'I' || c == 'i') { expected = Install; break; }
            if (c == 'R' || c == 'r') { expected = Remove; break; }
        }
    }
    bool hide = false;
    for (size_t i = 0; i + 1 < line.size(); ++i)
        if ((line[i] == '/' || line[i] == '-') && (line[i + 1] == 'V' || line[i + 1] == 'v')) hide = true;

    CHECK(mode == expected, "mode %d, expected %d for \"%s\"", mode, expected, Hex(line).c_str());
    CHECK(label == (hide ? 0u : initialLabel), "label %u for \"%s\"", label, Hex(line).c_str());
    CHECK(exact.Text() == line, "the command line was changed");
    return 0;
}
