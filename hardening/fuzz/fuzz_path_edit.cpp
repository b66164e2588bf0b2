// AddBackslash, RemoveBackslash and ReplaceExtension on any path bytes, with
// buffer sizes and maximums around 261, in blocks of exactly that size.
// Invariants: AddBackslash appends exactly one backslash when there is room
// and the path does not already end in a real (single-byte) backslash, and
// a second call then refuses (for a path not ending in a lone lead byte); RemoveBackslash takes away only a real
// trailing backslash, never a 0x5C trail byte, never a drive root's;
// ReplaceExtension keeps the result within the maximum, reports 1 only with
// the whole new extension at the end of the text up to the last single-byte
// dot, and is idempotent for a well-formed path.
#include "fuzz/common.h"

namespace {

void CheckAdd(const std::string& path, int size)
{
    if (static_cast<int>(path.size()) + 1 > size) size = static_cast<int>(path.size()) + 1;
    Block out(size, path);
    int result = AddBackslash(out.Get(), size);
    std::string text = out.Text();
    int n = static_cast<int>(path.size());
    bool endsInBackslash = n > 0 && path[n - 1] == '\\' && Kinds(path)[n - 1] == 0;
    int expected = (n >= 1 && n < size - 1 && !endsInBackslash) ? 1 : 0;
    CHECK(result == expected, "AddBackslash %d, expected %d for \"%s\" size %d", result, expected,
          Hex(path).c_str(), size);
    CHECK(text == (result ? path + "\\" : path), "AddBackslash left \"%s\"", Hex(text).c_str());
    // Behind a lone lead byte the appended byte is a trail byte, not a
    // separator; for well-formed paths a second call refuses.
    if (result == 1 && !EndsInLoneLead(path))
        CHECK(AddBackslash(out.Get(), size) == 0, "a second AddBackslash appended");
}

void CheckRemove(const std::string& path)
{
    Block out(path.size() + 1, path);
    int result = RemoveBackslash(out.Get());
    std::string text = out.Text();
    std::string kinds = Kinds(path);
    int n = static_cast<int>(path.size());
    bool real = n >= 2 && path[n - 1] == '\\' && kinds[n - 1] == 0;
    CHECK(result == (real ? 1 : 0), "RemoveBackslash %d for \"%s\"", result, Hex(path).c_str());
    bool removable = real && kinds[n - 2] == 0 && path[n - 2] != ':';
    CHECK(text == (removable ? path.substr(0, n - 1) : path), "RemoveBackslash left \"%s\" of \"%s\"",
          Hex(text).c_str(), Hex(path).c_str());
}

void CheckReplace(const std::string& path, const std::string& extension, int maximum)
{
    int n = static_cast<int>(path.size());
    int size = (n > maximum ? n : maximum) + 1;
    Block out(size, path);
    int result = ReplaceExtension(out.Get(), extension.c_str(), maximum);
    CHECK(out.Terminated(), "no terminator");
    std::string text = out.Text();
    if (n == 0) {
        CHECK(result == 0 && text.empty(), "empty path gave %d", result);
        return;
    }
    // The stem: up to the last single-byte dot, if any.
    std::string kinds = Kinds(path);
    int stem = n;
    for (int i = n - 1; i >= 0; --i)
        if (path[i] == '.' && kinds[i] == 0) {
            stem = i;
            break;
        }
    CHECK(static_cast<int>(text.size()) <= (n > maximum ? n : maximum), "result over the maximum");
    CHECK(text.compare(0, stem, path, 0, stem) == 0 || static_cast<int>(text.size()) < stem,
          "the stem changed");
    bool whole = stem + extension.size() <= static_cast<size_t>(maximum);
    CHECK(result == (whole ? 1 : 0), "ReplaceExtension %d for stem %d + %zu, maximum %d", result, stem,
          extension.size(), maximum);
    if (result == 1) {
        CHECK(text == path.substr(0, stem) + extension, "ReplaceExtension gave \"%s\"", Hex(text).c_str());
        // Idempotent when the path is well formed and the extension is one
        // plain ".xyz".
        bool plainExtension = !extension.empty() && extension[0] == '.' &&
                              extension.find('.', 1) == std::string::npos && Kinds(extension).find('\x01') == std::string::npos;
        if (plainExtension && !EndsInLoneLead(path.substr(0, stem))) {
            CHECK(ReplaceExtension(out.Get(), extension.c_str(), maximum) == 1 && out.Text() == text,
                  "not idempotent: \"%s\" became \"%s\"", Hex(text).c_str(), Hex(out.Text()).c_str());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size, 2);
    // Sizes and maximums cluster around the program's 260/261.
    int around = 255 + static_cast<int>(input.Byte(0) % 12);
    int small = static_cast<int>(input.Byte(1) % 24);
    std::string path = input.Text();
    std::string extension = input.Text();
    if (path.size() > 2000 || extension.size() > 64) return 0;
    if (extension.empty()) extension = ".PNF";
    CheckAdd(path, around);
    CheckAdd(path, small);
    CheckRemove(path);
    CheckReplace(path, extension, around);
    CheckReplace(path, extension, small);
    return 0;
}
