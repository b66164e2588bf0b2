// LoadText, AppendText, CopyString, AppendString and FormatText on buffers of
// 1 to 1100 bytes holding any text, with any brand names of up to 16 bytes,
// optionally with one allocation failing.
// Invariants: the buffer stays terminated inside its size; the appends never
// touch the text already there and keep the buffer's last byte free; a name
// that does not fit is refused whole, never cut; lengths returned are the
// buffer's; FormatText never takes more arguments than the caller passed,
// whatever the names hold, and stays within its 1024 bytes.
#include <string>

#include "fuzz/common.h"
#include "resources/ids.h"

namespace {

const UINT kIds[] = {IDS_INI_SECTION, IDS_INF_DIR, IDS_ENUM_USB, IDS_TEXT_GENERAL_NEXT, IDS_TEXT_XPSP2_OTHER,
                     IDS_TEXT_NEWHW_END, IDS_NEED_ADMIN, IDS_BUTTON_END, IDS_STAGING_NOTICE, 9999};

// Format texts with the arguments the callers pass for them.
const UINT kVersionLabel = 40000;
const UINT kMixed = 40001;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = (NormalStart(), StandinSetString(kVersionLabel, "Ver. %d.%d.%d"),
                           StandinSetString(kMixed, "<%SERIES%> %s <%CATEGORY%> %d%% %c"), true);
    (void)started;
    FuzzInput input(data, size, 12);
    int op = static_cast<int>(input.Byte(0) % 5);
    int bufferSize = 1 + static_cast<int>(input.Word(1) % 1100);
    UINT id = kIds[input.Byte(3) % (sizeof(kIds) / sizeof(kIds[0]))];
    int failAt = input.Byte(4) < 24 ? static_cast<int>(input.Byte(4)) : -1;
    int number = static_cast<int>(input.Word(5) | input.Word(7) << 16);
    std::string existing = input.Text();
    std::string argument = input.Text();
    std::string series = input.Text().substr(0, 16);
    std::string category = input.Text().substr(0, 16);
    if (existing.size() > 1200 || argument.size() > 1200) return 0;

    Placeholders().Clear();
    Placeholders().AddPlaceholder("<%SERIES%>", series.c_str());
    Placeholders().AddPlaceholder("<%CATEGORY%>", category.c_str());

    if (op == 4) {
        Block out(1024);
        StandinFailAllocation(failAt);
        int n;
        const int which = input.Byte(9) % 3;
        if (which == 0) {
            StandinLimitFormatArguments(0);
            n = FormatText(id, out.Get());
        } else if (which == 1) {
            StandinLimitFormatArguments(3);
            n = FormatText(kVersionLabel, out.Get(), number & 0xFFFF, number >> 16 & 0xFFFF, 1);
        } else {
            StandinLimitFormatArguments(3);
            n = FormatText(kMixed, out.Get(), argument.c_str(), number, 'x');
        }
        bool overread = StandinFormatOverread();
        StandinLimitFormatArguments(-1);
        StandinFailAllocation(-1);
        CHECK(!overread, "the formatter read an argument nobody passed [%s|%s]", Hex(series).c_str(),
              Hex(category).c_str());
        CHECK(out.Terminated(), "FormatText left no terminator");
        CHECK(n == static_cast<int>(out.Text().size()) && n <= 1023, "FormatText answered %d", n);
        return 0;
    }

    int blockSize = static_cast<int>(existing.size()) + 1 > bufferSize ? static_cast<int>(existing.size()) + 1
                                                                        : bufferSize;
    Block buffer(blockSize, existing);
    const std::string before = buffer.Text();
    const int length = static_cast<int>(before.size());
    StandinFailAllocation(failAt);
    int n = 0;
    switch (op) {
    case 0: n = LoadText(id, buffer.Get(), bufferSize); break;
    case 1: n = AppendText(id, buffer.Get(), bufferSize); break;
    case 2: n = CopyString(argument.c_str(), buffer.Get(), bufferSize); break;
    case 3: n = AppendString(argument.c_str(), buffer.Get(), bufferSize); break;
    }
    StandinFailAllocation(-1);
    CHECK(buffer.Terminated(), "op %d left no terminator", op);
    std::string after = buffer.Text();
    int total = static_cast<int>(after.size());

    if (op == 0) {
        CHECK(total <= bufferSize - 1, "LoadText wrote %d bytes into %d", total, bufferSize);
        char plain[1100];
        int loaded = LoadStringA(nullptr, id, plain, bufferSize);
        CHECK(n == loaded, "LoadText answered %d, LoadStringA %d", n, loaded);
        if (n == 0) CHECK(after.empty(), "nothing loaded but the buffer holds text");
        return 0;
    }
    if (op == 2) {
        if (static_cast<int>(argument.size()) + 1 > bufferSize) {
            CHECK(n == 0 && after.empty(), "a text that does not fit was copied (%d)", n);
        } else {
            CHECK(n == total && total <= bufferSize - 1, "CopyString answered %d for %d bytes", n, total);
        }
        return 0;
    }
    // The appends.
    CHECK(after.compare(0, length, before) == 0 || length + 1 >= bufferSize, "the existing text changed");
    if (length + 1 >= bufferSize) {
        CHECK(n == 0 && after == before, "append into a full buffer changed it");
        return 0;
    }
    CHECK(total <= bufferSize - 2, "append used the reserved last byte (%d of %d)", total, bufferSize);
    if (op == 3 && static_cast<int>(argument.size()) + 1 > bufferSize - length - 1) {
        CHECK(n == 0 && after == before, "a name that does not fit was appended");
        return 0;
    }
    CHECK(n == 0 ? after == before : n == total, "append answered %d for %d bytes", n, total);
    return 0;
}
