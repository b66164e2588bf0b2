// The product's pure routines on any bytes, in code page 936 or 1252, each result held against
// what the routine promises, worked out from a walk of the input's characters; buffers of exact
// size, for ASan. Input: flags (bit 0: code page 1252; bits 1-3: a size offset, so runs sit at an
// edge), then NUL-split texts: path A and pattern B; or text A, the names B and C, and D to append.
#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "regpurge/name_match.h"
#include "shell/paths.h"
#include "shell/text.h"

using std::string, std::vector;

const char kSeries[] = "<%SERIES%>", kCategory[] = "<%CATEGORY%>";

// A failed check: its line, what was expected and what came (backslash and non-printables in hex).
static void Check(bool ok, int line, const char* what, const string& expected, const string& got)
{
    if (ok) return;
    fprintf(stderr, "invariant failed at line %d: %s", line, what);
    for (const string* text : {&expected, &got}) {
        fputs(text == &expected ? "\n  expected: \"" : "\"\n  got:      \"", stderr);
        for (unsigned char c : *text) fprintf(stderr, c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02X", c);
    }
    fputs("\"\n", stderr);
    abort();
}
#define CHECK(ok, expected, got) Check(ok, __LINE__, #ok, expected, got)

// starts[i]: a character begins at byte i (or the end); a lead byte takes any next byte along.
static vector<bool> Starts(const string& text)
{
    vector<bool> starts(text.size() + 1, true);
    for (size_t i = 0; i < text.size(); ++i)
        if (IsDBCSLeadByte(text[i]) && i + 1 < text.size()) starts[++i] = false;
    return starts;
}

static vector<char> Exact(const string& text, size_t size)  // for ASan: one byte too far is seen
{
    vector<char> buffer(size);
    memcpy(buffer.data(), text.c_str(), std::min(size, text.size() + 1));
    return buffer;
}

static bool Holds(const string& t, const char* placeholder) { return t.find(placeholder) != string::npos; }

// Not empty, and decodes in the run's code page: no character cut in half.
static bool Whole(const string& t) { return ShimConvert(CP_ACP, true, t.data(), t.size(), nullptr, 0) > 0; }

static void CheckPaths(const string& a, const string& b, int offset)
{
    const int n = static_cast<int>(a.size()), maximum = std::max(0, n + offset - 4);
    const size_t size = std::max(n, maximum) + 1;
    const vector<bool> starts = Starts(a);
    // The longest prefix of A within `room` bytes that ends on a whole character.
    auto fit = [&](int room) { return n <= room ? n : starts[room] ? room : room - 1; };
    for (int append = 0; append < 2; ++append) {  // A copied, then appended to what fits of B
        const string old = append ? b.substr(0, maximum) : "";
        vector<char> out = Exact(old, maximum + 1);
        int length = -1;
        const int r = (append ? AppendBounded : CopyBounded)(out.data(), a.c_str(), maximum, &length);
        const int added = fit(maximum - static_cast<int>(old.size()));
        const string expected = old + a.substr(0, added), got = out.data();
        CHECK(got == expected && r == (added == n) && length == (int)got.size(), expected, got);
    }
    // The 0x5C trail byte of a double-byte character is no backslash; "C:\" keeps its own.
    const bool endsInBackslash = n > 0 && starts[n - 1] && a[n - 1] == '\\';
    vector<char> out = Exact(a, size);
    int r = AddBackslash(out.data(), (int)size);
    string expected = n > 0 && n + 2 <= (int)size && !endsInBackslash ? a + "\\" : a, got = out.data();
    CHECK(got == expected && r == (got != a), expected, got);
    out = Exact(a, n + 1);
    r = RemoveBackslash(out.data());
    const bool goes = endsInBackslash && n > 1 && starts[n - 2] && a[n - 2] != ':';
    expected = goes ? a.substr(0, n - 1) : a, got = out.data();
    CHECK(got == expected && r == (endsInBackslash && n > 1), expected, got);
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
            found |= starts[i] && a.compare(i, b.size(), b) == 0 && !(digits && isdigit((BYTE)a[i + b.size()]));
        r = ContainsPattern(a.c_str(), b.c_str(), digits);
        CHECK(r == found, std::to_string(found) + " for " + b, std::to_string(r));
    }
    expected = a, got = a;  // only a-z outside double-byte characters change
    for (int i = 0; i < n; ++i)
        if (starts[i] && a[i] >= 'a' && a[i] <= 'z') expected[i] -= 32;
    UpperCaseAscii(&got[0]);
    CHECK(got == expected, expected, got);
    string base = expected.substr(0, expected.find('.'));  // a device whatever its extension and blanks
    base.erase(base.find_last_not_of(' ') + 1);
    const bool device = base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
                        base == "CONOUT$" || (base.size() == 4 && (!base.compare(0, 3, "COM") ||
                        !base.compare(0, 3, "LPT")) && base[3] >= '1' && base[3] <= '9');
    r = IsDosDeviceName(a.c_str());
    CHECK(r == device, std::to_string(device) + " for " + base, std::to_string(r));
}

static void CheckTexts(const string& text, const string& series, const string& category,
                       const string& more, size_t spare)
{
    PlaceholderList& list = Placeholders();
    list.Clear();
    list.AddPlaceholder(kSeries, series.c_str());
    list.AddPlaceholder(kCategory, category.c_str());
    vector<char> out = Exact(text, text.size() + 1 + spare);
    const bool substituted = list.SubstituteInBuffer(out.data(), (int)out.size());
    const string result = out.data();
    CHECK(result == text || (substituted && (Holds(text, kSeries) || Holds(text, kCategory))), text, result);
    // Names without '<' make no new placeholder but from a '<' of the text: valid input must pass.
    if (Whole(text) && Whole(series) && Whole(category) && (series + category).find('<') == string::npos &&
        text.size() * (1 + series.size() + category.size()) < 60000)
        CHECK(substituted, "substituted", result);
    // A name holding its own placeholder may leave it; any other left is one the loop
    // missed. A category name sharing no character with "<%SERIES%>" cannot make one.
    if (substituted) {
        CHECK(result.empty() || Whole(result), "whole characters", result);
        if (!Holds(category, kCategory)) CHECK(!Holds(result, kCategory), "no <%CATEGORY%>", result);
        if (!Holds(series, kSeries) && category.find_first_of("<%SERIE>") == string::npos)
            CHECK(!Holds(result, kSeries), "no <%SERIES%>", result);
    }
    // CopyString is that substitution, or nothing when the text does not fit (spare 0: a byte short).
    size_t size = spare ? out.size() : std::max<size_t>(text.size(), 1);
    vector<char> copy = Exact(string(size - 1, '#'), size);
    int r = CopyString(text.c_str(), copy.data(), (int)size);
    const string expected = text.size() < size ? result : "";
    CHECK(expected == copy.data() && r == (int)expected.size(), expected, copy.data());
    // AppendString adds a text without placeholders whole, or nothing when not with a byte to spare.
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
    if (size == 0) return 0;
    shimCodePage = data[0] & 1 ? 1252 : 936;
    string t[4];
    std::istringstream input(string(data + 1, data + size));
    for (string& text : t) std::getline(input, text, '\0');
    CheckPaths(t[0], t[1], (data[0] >> 1) & 7);
    CheckTexts(t[0], t[1], t[2], t[3], (data[0] >> 1) & 7);
    return 0;
}
