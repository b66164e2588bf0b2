// DbcsStateAt, CopyBounded and AppendBounded on any bytes and any maximum
// up to 299, into blocks of exactly maximum + 1 bytes (or the destination's
// own length when it is longer).
// Invariants: DbcsStateAt agrees with an independent walk; the result is
// terminated inside the block and never longer than the maximum; it is a
// prefix (CopyBounded) or the destination plus a prefix of the text
// (AppendBounded); 1 exactly when nothing was left out; a cut falls between
// characters and leaves out at most one byte more than the bound demands;
// copying a copy again changes nothing.
#include "fuzz/common.h"

namespace {

void CheckStates(const std::string& text)
{
    std::string kinds = Kinds(text);
    Block exact(text.size() + 1, text);
    for (int i = -2; i <= static_cast<int>(text.size()) + 2; ++i) {
        int expected = (i < 0 || i >= static_cast<int>(text.size())) ? 0 : kinds[i];
        int got = DbcsStateAt(exact.Get(), i);
        CHECK(got == expected, "DbcsStateAt(%d) = %d, expected %d in \"%s\"", i, got, expected,
              Hex(text).c_str());
    }
}

void CheckCopy(const std::string& source, int maximum)
{
    Block out(maximum + 1);
    int copied = -1;
    int result = CopyBounded(out.Get(), source.c_str(), maximum, &copied);
    CHECK(out.Terminated(), "CopyBounded left no terminator");
    std::string text = out.Text();
    int n = static_cast<int>(source.size());
    CHECK(copied == static_cast<int>(text.size()), "copied %d, text %zu", copied, text.size());
    CHECK(copied <= maximum, "copied %d over maximum %d", copied, maximum);
    CHECK(source.compare(0, text.size(), text) == 0, "not a prefix of the source");
    CHECK(result == (copied == n ? 1 : 0), "result %d with %d of %d copied", result, copied, n);
    if (result == 0) {
        CHECK(copied >= maximum - 1, "cut at %d, maximum %d", copied, maximum);
        CHECK(Kinds(source)[copied] != 2, "cut inside a character at %d of \"%s\"", copied,
              Hex(source).c_str());
    }
    // A second copy of the copy is the same text.
    Block again(maximum + 1);
    CHECK(CopyBounded(again.Get(), out.Get(), maximum) == 1 && again.Text() == text, "copy not stable");
}

void CheckAppend(const std::string& existing, const std::string& append, int maximum)
{
    int p = static_cast<int>(existing.size());
    int size = p > maximum ? p + 1 : maximum + 1;
    Block out(size, existing);
    int length = -1;
    int result = AppendBounded(out.Get(), append.c_str(), maximum, &length);
    CHECK(out.Terminated(), "AppendBounded left no terminator");
    std::string text = out.Text();
    CHECK(length == static_cast<int>(text.size()), "length %d, text %zu", length, text.size());
    if (p > maximum) {
        CHECK(result == 1 && text == existing, "a destination over the maximum was changed");
        return;
    }
    int added = length - p;
    CHECK(length <= maximum, "length %d over maximum %d", length, maximum);
    CHECK(added >= 0 && text.compare(0, p, existing) == 0, "the destination's text changed");
    CHECK(append.compare(0, added, text.substr(p)) == 0, "appended bytes are not a prefix of the text");
    CHECK(result == (added == static_cast<int>(append.size()) ? 1 : 0), "result %d, added %d of %zu",
          result, added, append.size());
    if (result == 0) {
        CHECK(added >= maximum - p - 1, "appended %d of room %d", added, maximum - p);
        CHECK(Kinds(append)[added] != 2, "cut inside a character at %d of \"%s\"", added,
              Hex(append).c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size, 2);
    int maximum = static_cast<int>(input.Word(0) % 300);
    std::string source = input.Text();
    std::string existing = input.Text();
    if (source.size() > 4000 || existing.size() > 4000) return 0;
    CheckStates(source);
    CheckCopy(source, maximum);
    CheckAppend(existing, source, maximum);
    return 0;
}
