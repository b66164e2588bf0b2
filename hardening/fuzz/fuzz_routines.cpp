// The product's pure routines on any bytes, in code page 936 or 1252, each
// result held against what the routine promises, worked out from a walk of
// the input's characters; buffers of exact size, for ASan. Input: flags (bit
// 0: code page 1252; bits 1-3: a size offset, so runs sit at an edge), then
// texts A B C D split by NUL: path and pattern A, B; or text A, series and
// category names B, C, and D to append.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "regpurge/name_match.h"
#include "shell/paths.h"
#include "shell/text.h"

using std::string;

const char kSeries[] = "<%SERIES%>";
const char kCategory[] = "<%CATEGORY%>";

static string Shown(const string& text)
{
    string shown;
    for (unsigned char c : text) {
        char shownByte[8];
        snprintf(shownByte, sizeof(shownByte), c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02X", c);
        shown += shownByte;
    }
    return shown;
}

#define CHECK(ok, expected, got)                                                                   \
    do {                                                                                           \
        if (!(ok)) {                                                                               \
            fprintf(stderr, "invariant failed at line %d: %s\n  expected: \"%s\"\n  got:      \"%s\"\n", \
                    __LINE__, #ok, Shown(expected).c_str(), Shown(got).c_str());                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// starts[i]: a character begins at byte i, or i is the end. A lead byte
// takes the next byte along, whatever it is, unless the text ends there.
static std::vector<bool> Starts(const string& text)
{
    std::vector<bool> starts(text.size() + 1, true);
    for (size_t i = 0; i < text.size(); ++i)
        if (IsDBCSLeadByte(text[i]) && i + 1 < text.size()) starts[++i] = false;
    return starts;
}

// ASan then sees a write one byte too far, and the read of a lost terminator.
static std::vector<char> Exact(const string& text, size_t size)
{
    std::vector<char> buffer(size);
    memcpy(buffer.data(), text.c_str(), std::min(size, text.size() + 1));
    return buffer;
}

static bool Holds(const string& t, const char* placeholder) { return t.find(placeholder) != string::npos; }

// Not empty, and decodes in the run's code page: no character cut in half.
static bool Whole(const string& t)
{
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, t.data(), (int)t.size(), nullptr, 0) > 0;
}

static void CheckPaths(const string& a, const string& b, int offset)
{
    const int n = static_cast<int>(a.size()), maximum = std::max(0, n + offset - 4);
    const size_t size = std::max(n, maximum) + 1;
    const std::vector<bool> starts = Starts(a);
    // The longest prefix of A within `room` bytes that ends on a whole character.
    auto fit = [&](int room) { return n <= room ? n : starts[room] ? room : room - 1; };
    int length = -1;
    std::vector<char> out = Exact("", maximum + 1);
    int r = CopyBounded(out.data(), a.c_str(), maximum, &length);
    string expected = a.substr(0, fit(maximum)), got = out.data();
    CHECK(got == expected && r == (fit(maximum) == n) && length == (int)got.size(), expected, got);
    string old = b.substr(0, maximum);  // an append keeps it and adds A the same way
    out = Exact(old, maximum + 1);
    r = AppendBounded(out.data(), a.c_str(), maximum, &length);
    const int added = fit(maximum - static_cast<int>(old.size()));
    expected = old + a.substr(0, added), got = out.data();
    CHECK(got == expected && r == (added == n) && length == (int)got.size(), expected, got);
    // The 0x5C trail byte of a double-byte character is no backslash.
    const bool endsInBackslash = n > 0 && starts[n - 1] && a[n - 1] == '\\';
    const bool adds = n > 0 && n + 2 <= (int)size && !endsInBackslash;
    out = Exact(a, size);
    r = AddBackslash(out.data(), (int)size);
    expected = adds ? a + "\\" : a, got = out.data();
    CHECK(got == expected && r == adds, expected, got);
    out = Exact(a, n + 1);  // only a real final backslash goes, never the one of "C:\"
    r = RemoveBackslash(out.data());
    got = out.data();
    const bool mayGo = endsInBackslash && n > 1 && starts[n - 2] && a[n - 2] != ':';
    CHECK(r == (endsInBackslash && n > 1) && (got == a || (mayGo && got == a.substr(0, n - 1))), a, got);
    int stem = n;  // B, whole or cut, takes the place of what follows A's last dot
    for (int i = 0; i < n; ++i)
        if (starts[i] && a[i] == '.') stem = i;
    out = Exact(a, size);
    r = ReplaceExtension(out.data(), b.c_str(), maximum);
    got = out.data(), expected = a.substr(0, stem) + b;
    const bool cut = got.size() >= (size_t)stem && expected.compare(0, got.size(), got) == 0;
    CHECK(n == 0 ? r == 0 && got.empty() : cut && r == (got == expected), expected, got);
    for (int digits = 0; digits < 2; ++digits) {  // B at a character of A, then no digit if asked
        int found = 0;
        for (int i = 0; i < n && !b.empty(); ++i)
            if (starts[i] && a.compare(i, b.size(), b) == 0 && !(digits && isdigit((BYTE)a[i + b.size()])))
                found = 1;
        r = ContainsPattern(a.c_str(), b.c_str(), digits);
        CHECK(r == found, std::to_string(found), std::to_string(r) + " for " + b);
    }
    expected = a, got = a;  // only a-z outside double-byte characters change
    for (int i = 0; i < n; ++i)
        if (starts[i] && starts[i + 1] && a[i] >= 'a' && a[i] <= 'z') expected[i] -= 32;
    UpperCaseAscii(&got[0]);
    CHECK(got == expected, expected, got);
}

static void CheckTexts(const string& text, const string& series, const string& category,
                       const string& more, size_t spare)
{
    PlaceholderList& list = Placeholders();
    list.Clear();
    list.AddPlaceholder(kSeries, series.c_str());
    list.AddPlaceholder(kCategory, category.c_str());
    std::vector<char> out = Exact(text, text.size() + 1 + spare);
    const bool substituted = list.SubstituteInBuffer(out.data(), (int)out.size());
    const string result = out.data();
    if (!substituted || (!Holds(text, kSeries) && !Holds(text, kCategory)))
        CHECK(result == text, text, result);
    // Names without '<' make no new placeholder but from a '<' of the text,
    // so the text cannot outgrow the working limit: valid input must pass.
    if (Whole(text) && Whole(series) && Whole(category) && (series + category).find('<') == string::npos &&
        text.size() * (1 + series.size() + category.size()) < 60000)
        CHECK(substituted, "substituted", result);
    if (substituted) {
        CHECK(result.empty() || Whole(result), "whole characters", result);
        // A name holding its own placeholder may leave it; any other left is
        // one the loop missed. A category name sharing no character with
        // "<%SERIES%>" cannot make a new one.
        if (!Holds(category, kCategory)) CHECK(!Holds(result, kCategory), "no <%CATEGORY%>", result);
        if (!Holds(series, kSeries) && category.find_first_of("<%SERIE>") == string::npos)
            CHECK(!Holds(result, kSeries), "no <%SERIES%>", result);
    }

    // CopyString is that substitution, or nothing when the text does not fit
    // (spare 0: one byte short).
    size_t size = spare ? out.size() : std::max<size_t>(text.size(), 1);
    std::vector<char> copy = Exact(string(size - 1, '#'), size);
    int r = CopyString(text.c_str(), copy.data(), (int)size);
    const string expected = text.size() < size ? result : "";
    CHECK(expected == copy.data() && r == (int)expected.size(), expected, copy.data());

    // AppendString adds a text without placeholders whole, or when it does
    // not fit with a byte to spare, nothing.
    size = std::max(result.size() + 1, result.size() + more.size() + spare);
    copy = Exact(result, size);
    r = AppendString(more.c_str(), copy.data(), (int)size);
    const string got = copy.data(), whole = result + more;
    if (!Holds(more, kSeries) && !Holds(more, kCategory))
        CHECK(r ? got == whole && r == (int)got.size()
                : got == result && (more.empty() || whole.size() + 2 > size), whole, got);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const unsigned flags = size ? data[0] : 0;
    ShimSetCodePage(flags & 1 ? 1252 : 936);
    string t[4];
    for (size_t i = 1, k = 0; i < size && k < 4; ++i) {
        if (data[i]) t[k] += static_cast<char>(data[i]);
        else ++k;
    }
    CheckPaths(t[0], t[1], static_cast<int>((flags >> 1) & 7));
    CheckTexts(t[0], t[1], t[2], t[3], (flags >> 1) & 7);
    return 0;
}
