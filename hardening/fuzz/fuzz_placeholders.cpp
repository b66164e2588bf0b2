// Placeholder substitution in a caller's buffer of 1 to 1100 bytes, with the
// program's two placeholders and any brand names of up to 16 bytes (what the
// INI can give), in either order, optionally with one allocation failing.
// Invariants: on failure every byte of the buffer is as it was; on success
// the buffer holds the result of an independent substitution (UTF-16, every
// occurrence, search restarted from the start except behind a value holding
// its own placeholder), cut to the buffer between characters, terminated
// inside it. LeakSanitizer checks that every path frees what it took.
#include <string>
#include <vector>

#include "fuzz/common.h"

namespace {

bool ToWide(const std::string& text, std::u16string* out)
{
    if (text.empty()) return false;
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    out->assign(n, u'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<WCHAR*>(&(*out)[0]), n);
    return true;
}

std::string ToAnsi(const std::u16string& wide)
{
    const WCHAR* units = reinterpret_cast<const WCHAR*>(wide.data());
    int n = WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(wide.size()), &out[0], n, nullptr, nullptr);
    return out;
}

bool Reference(const std::string& text, const std::vector<std::pair<std::string, std::string>>& pairs,
               std::string* out)
{
    std::u16string work;
    if (!ToWide(text, &work)) return false;
    for (const auto& pair : pairs) {
        std::u16string placeholder, value;
        if (!ToWide(pair.first, &placeholder) || !ToWide(pair.second, &value)) return false;
        bool holdsItself = value.find(placeholder) != std::u16string::npos;
        size_t from = 0;
        for (;;) {
            size_t at = work.find(placeholder, from);
            if (at == std::u16string::npos) break;
            work.replace(at, placeholder.size(), value);
            if (work.size() > 65536) return false;
            from = holdsItself ? at + value.size() : 0;
        }
    }
    *out = ToAnsi(work);
    return true;
}

std::string CutBetweenCharacters(const std::string& text, int size)
{
    if (static_cast<int>(text.size()) <= size - 1) return text;
    size_t n = size - 1;
    if (Kinds(text)[n] == 2) --n;
    return text.substr(0, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = (NormalStart(), true);
    (void)started;
    FuzzInput input(data, size, 4);
    int bufferSize = 1 + static_cast<int>(input.Word(0) % 1100);
    bool reversed = input.Byte(2) & 1;
    int failAt = input.Byte(3) < 40 ? static_cast<int>(input.Byte(3)) : -1;
    std::string text = input.Text();
    std::string series = input.Text().substr(0, 16);
    std::string category = input.Text().substr(0, 16);
    if (text.size() > 1200) return 0;

    std::vector<std::pair<std::string, std::string>> pairs = {{"<%SERIES%>", series}, {"<%CATEGORY%>", category}};
    if (reversed) std::swap(pairs[0], pairs[1]);
    PlaceholderList list;
    for (const auto& pair : pairs) list.AddPlaceholder(pair.first.c_str(), pair.second.c_str());
    if (list.Count() != 2) return 0;

    Block buffer(bufferSize, text);
    std::string held = buffer.Text();  // the text as the buffer holds it
    std::vector<char> before(buffer.Get(), buffer.Get() + bufferSize);

    StandinFailAllocation(failAt);
    bool ok = list.SubstituteInBuffer(buffer.Get(), bufferSize);
    bool allocationFailed = failAt >= 0 && StandinAllocationsSeen() > failAt;
    StandinFailAllocation(-1);

    CHECK(buffer.Terminated(), "no terminator in %d bytes", bufferSize);
    if (!ok) {
        CHECK(memcmp(before.data(), buffer.Get(), bufferSize) == 0, "a failed substitution changed the buffer");
    }
    std::string expected;
    bool expectedOk = Reference(held, pairs, &expected);
    if (allocationFailed) {
        CHECK(!ok, "success reported although allocation %d failed", failAt);
        return 0;
    }
    CHECK(ok == expectedOk, "substitution answered %d, expected %d for \"%s\" [%s|%s]", ok, expectedOk,
          Hex(held).c_str(), Hex(series).c_str(), Hex(category).c_str());
    if (ok) {
        std::string got = buffer.Text();
        std::string want = CutBetweenCharacters(expected, bufferSize);
        CHECK(got == want, "got \"%s\"\n  expected \"%s\"", Hex(got).c_str(), Hex(want).c_str());
        CHECK(!EndsInLoneLead(got) || EndsInLoneLead(expected), "cut inside a character");
    }
    return 0;
}
