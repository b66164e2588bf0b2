// The containment match with its digit rule: ContainsPattern and
// UpperCaseAscii on any bytes, then DeleteMatchingValues on a key whose
// value names are any bytes.
// Invariants: a match is found exactly where an independent search finds
// one (on a character boundary, with the digit rule: no digit right behind
// it); upper-casing changes only single-byte a-z and is idempotent; the
// deletion removes exactly the matching values and no other, keeps the
// order of the rest, upper-cases the caller's pattern, closes every key and
// shows a box only for a name the 261-byte buffer cannot hold.
#include "fuzz/regpurge_common.h"
#include "regpurge/name_match.h"
#include "regpurge/registry_purger.h"

namespace {

const char kKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = (NormalStart(), true);
    (void)started;
    FuzzInput input(data, size, 1);
    const int digitBoundary = input.Byte(0) & 1;
    std::string text = input.Text();
    std::string pattern = input.Text();
    if (text.size() > 2000 || pattern.size() > 300) return 0;

    // ContainsPattern against the independent search, on exact blocks.
    Block textBlock(text.size() + 1, text), patternBlock(pattern.size() + 1, pattern);
    int found = ContainsPattern(textBlock.Get(), patternBlock.Get(), digitBoundary);
    bool expected = false;
    if (!pattern.empty()) {
        std::string kinds = Kinds(text);
        for (size_t at = text.find(pattern); at != std::string::npos && !expected; at = text.find(pattern, at + 1)) {
            size_t next = at + pattern.size();
            expected = kinds[at] != 2 && !(digitBoundary && next < text.size() && text[next] >= '0' && text[next] <= '9');
        }
    }
    CHECK(found == (expected ? 1 : 0), "ContainsPattern %d for \"%s\" in \"%s\"", found, Hex(pattern).c_str(),
          Hex(text).c_str());
    if (found && digitBoundary)
        CHECK(ContainsPattern(textBlock.Get(), patternBlock.Get(), 0) == 1, "the digit rule made a match");

    // UpperCaseAscii: only single-byte letters, and only once.
    UpperCaseAscii(textBlock.Get());
    CHECK(textBlock.Text() == UpperAscii(text), "UpperCaseAscii gave \"%s\"", Hex(textBlock.Text()).c_str());
    std::string once = textBlock.Text();
    UpperCaseAscii(textBlock.Get());
    CHECK(textBlock.Text() == once, "UpperCaseAscii not idempotent");

    // DeleteMatchingValues on value names taken from the rest of the input.
    if (pattern.empty() || pattern.size() > 260) return 0;
    StandinRegClear();
    StandinClearBoxes();
    StandinRegCreateKey(kKey);
    bool tooLong = false;
    for (std::string name = input.Text(); !name.empty(); name = input.Text()) {
        StandinRegSetValue(kKey, name, REG_SZ, "x");
        if (name.size() > 260) tooLong = true;
    }
    const std::vector<std::string> before = StandinRegValueNames(kKey);
    std::string callerPattern = pattern;
    Block patternCopy(pattern.size() + 1, pattern);
    RegistryPurger purger(12);
    int result = purger.DeleteMatchingValues(HKEY_LOCAL_MACHINE, kKey, patternCopy.Get());
    std::string upperPattern = UpperAscii(callerPattern);
    CHECK(patternCopy.Text() == upperPattern, "the pattern reads \"%s\"", Hex(patternCopy.Text()).c_str());
    CHECK(StandinOpenKeys() == 0, "%d keys left open", StandinOpenKeys());
    const std::vector<std::string> after = StandinRegValueNames(kKey);
    // What is left is the list before without some matching names, in order.
    size_t j = 0;
    for (const std::string& name : before) {
        bool kept = j < after.size() && after[j] == name;
        if (kept) ++j;
        bool matching = Matches(name, upperPattern, true);
        CHECK(kept || matching, "\"%s\" was deleted but does not match \"%s\"", Hex(name).c_str(), Hex(upperPattern).c_str());
        if (!tooLong) CHECK(!kept || !matching, "\"%s\" matches \"%s\" but was kept", Hex(name).c_str(), Hex(upperPattern).c_str());
    }
    CHECK(j == after.size(), "values appeared");
    if (!tooLong) {
        CHECK(result == 1 && StandinBoxes().empty(), "result %d with %zu boxes", result, StandinBoxes().size());
    } else {
        CHECK(StandinBoxes().size() <= 1, "%zu boxes", StandinBoxes().size());
    }
    return 0;
}
