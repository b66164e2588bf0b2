// Code page 936 for the native build. The tables are filled once from
// iconv's GBK, so lead bytes and conversions follow that table: lead bytes
// 0x81-0xFE, trail bytes 0x40-0xFE except 0x7F. (glibc's GBK lacks the
// user-defined areas Windows maps to private-use characters; such pairs
// count as invalid here, which only makes the stand-in stricter.)
#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <string>

#include "standin.h"

namespace {

struct Tables {
    WCHAR toUnicode[65536];  // by byte (0-0x7F) or lead << 8 | trail; 0 = invalid
    WORD fromUnicode[65536]; // by unit: one byte, or lead << 8 | trail; 0 = none

    Tables()
    {
        memset(toUnicode, 0, sizeof(toUnicode));
        memset(fromUnicode, 0, sizeof(fromUnicode));
        iconv_t cd = iconv_open("UTF-16LE", "GBK");
        if (cd == (iconv_t)-1) {
            fprintf(stderr, "standin: iconv has no GBK\n");
            abort();
        }
        for (int b = 1; b < 0x100; ++b) {
            if (b >= 0x81 && b <= 0xFE) continue;
            Add(cd, b, 1);
        }
        for (int lead = 0x81; lead <= 0xFE; ++lead)
            for (int trail = 0x40; trail <= 0xFE; ++trail)
                if (trail != 0x7F) Add(cd, lead << 8 | trail, 2);
        iconv_close(cd);
    }

    void Add(iconv_t cd, int code, int bytes)
    {
        char in[2];
        if (bytes == 1) {
            in[0] = static_cast<char>(code);
        } else {
            in[0] = static_cast<char>(code >> 8);
            in[1] = static_cast<char>(code & 0xFF);
        }
        char out[8];
        char* inPtr = in;
        char* outPtr = out;
        size_t inLeft = bytes;
        size_t outLeft = sizeof(out);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == (size_t)-1 || inLeft != 0) return;
        if (sizeof(out) - outLeft != 2) return;  // beyond the BMP: not in GBK
        WCHAR unit = static_cast<WCHAR>(static_cast<unsigned char>(out[0]) |
                                        static_cast<unsigned char>(out[1]) << 8);
        if (unit == 0) return;
        toUnicode[code] = unit;
        if (!fromUnicode[unit]) fromUnicode[unit] = static_cast<WORD>(code);
    }
};

const Tables& Cp936()
{
    static Tables* tables = new Tables();
    return *tables;
}

bool SupportedCodePage(UINT codePage)
{
    return codePage == CP_ACP || codePage == 936 || codePage == CP_OEMCP;
}

}  // namespace

UINT WINAPI GetACP(void) { return 936; }

BOOL WINAPI IsDBCSLeadByte(BYTE c) { return c >= 0x81 && c <= 0xFE; }

BOOL WINAPI IsDBCSLeadByteEx(UINT codePage, BYTE c)
{
    return SupportedCodePage(codePage) ? IsDBCSLeadByte(c) : FALSE;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                               int wideLength)
{
    if (!SupportedCodePage(codePage) || !text || length == 0 || wideLength < 0 ||
        (wideLength > 0 && !wide)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (length < 0) length = lstrlenA(text) + 1;
    const Tables& t = Cp936();
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
    int count = 0;
    for (int i = 0; i < length;) {
        WCHAR unit;
        int c = bytes[i];
        if (c < 0x80) {
            unit = static_cast<WCHAR>(c);
            i += 1;
        } else if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < length &&
                   t.toUnicode[c << 8 | bytes[i + 1]]) {
            unit = t.toUnicode[c << 8 | bytes[i + 1]];
            i += 2;
        } else if (!IsDBCSLeadByte(static_cast<BYTE>(c)) && t.toUnicode[c]) {
            unit = t.toUnicode[c];
            i += 1;
        } else {
            // A lone lead byte, a pair not in the table, or an unmapped byte.
            if (flags & MB_ERR_INVALID_CHARS) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            unit = '?';
            i += 1;
        }
        if (wideLength > 0) {
            if (count >= wideLength) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            wide[count] = unit;
        }
        ++count;
    }
    return count;
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int length, LPSTR text,
                               int textLength, LPCSTR defaultChar, BOOL* usedDefaultChar)
{
    (void)flags;
    if (!SupportedCodePage(codePage) || !wide || length == 0 || textLength < 0 ||
        (textLength > 0 && !text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (length < 0) {
        length = 0;
        while (wide[length]) ++length;
        ++length;
    }
    const Tables& t = Cp936();
    const char fallback = defaultChar ? defaultChar[0] : '?';
    if (usedDefaultChar) *usedDefaultChar = FALSE;
    int count = 0;
    for (int i = 0; i < length; ++i) {
        WCHAR unit = wide[i];
        char out[2];
        int n;
        if (unit < 0x80) {
            out[0] = static_cast<char>(unit);
            n = 1;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            // GBK holds nothing beyond the BMP: a surrogate pair is one
            // character without a mapping, a lone surrogate as well.
            if (unit <= 0xDBFF && i + 1 < length && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
                ++i;
            out[0] = fallback;
            n = 1;
            if (usedDefaultChar) *usedDefaultChar = TRUE;
        } else if (WORD code = t.fromUnicode[unit]) {
            if (code > 0xFF) {
                out[0] = static_cast<char>(code >> 8);
                out[1] = static_cast<char>(code & 0xFF);
                n = 2;
            } else {
                out[0] = static_cast<char>(code);
                n = 1;
            }
        } else {
            out[0] = fallback;
            n = 1;
            if (usedDefaultChar) *usedDefaultChar = TRUE;
        }
        if (textLength > 0) {
            if (count + n > textLength) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            memcpy(text + count, out, n);
        }
        count += n;
    }
    return count;
}

LPSTR WINAPI CharNextA(LPCSTR text)
{
    if (!*text) return const_cast<LPSTR>(text);
    if (IsDBCSLeadByte(static_cast<BYTE>(*text)) && text[1]) return const_cast<LPSTR>(text + 2);
    return const_cast<LPSTR>(text + 1);
}

DWORD WINAPI CharUpperBuffA(LPSTR text, DWORD length)
{
    for (DWORD i = 0; i < length; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < length) {
            ++i;
            continue;
        }
        if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
    }
    return length;
}

LPSTR WINAPI CharUpperA(LPSTR text)
{
    CharUpperBuffA(text, static_cast<DWORD>(strlen(text)));
    return text;
}

std::string Gbk(const std::string& utf8)
{
    // UTF-8 to UTF-16 by hand (the tests' texts are valid), then down to 936.
    std::u16string units;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = utf8[i];
        unsigned cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; extra = 1; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; extra = 2; }
        else { cp = c & 0x07; extra = 3; }
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i) cp = cp << 6 | (utf8[i] & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
    }
    if (units.empty()) return std::string();
    const WCHAR* wide = reinterpret_cast<const WCHAR*>(units.data());
    int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(units.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(units.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Utf8(const std::string& gbk)
{
    if (gbk.empty()) return std::string();
    int n = MultiByteToWideChar(CP_ACP, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    std::u16string units(n, u'\0');
    MultiByteToWideChar(CP_ACP, 0, gbk.data(), static_cast<int>(gbk.size()),
                        reinterpret_cast<WCHAR*>(&units[0]), n);
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        unsigned cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size()) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}
