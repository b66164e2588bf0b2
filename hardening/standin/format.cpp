// wvsprintfA as the system's formatter behaves: a 1024-byte output limit
// (1023 characters and the terminator), directives [-][#][0][width]
// [.precision][l|h|w]type with the types c C d i s S u x X, "%%" for a
// percent sign, and an unknown type printed as a plain character (the '%'
// is dropped). Each c, C, d, i, s, S, u, x, X takes one argument.
//
// The stand-in counts the arguments taken. With a limit set, a directive
// beyond it takes no argument (it formats a null or 0 instead) and the
// overread is reported, so tests can prove the product never makes the
// formatter read arguments the caller did not pass.
#include <stdio.h>
#include <windows.h>

#include "standin.h"

namespace {

int argumentLimit = -1;
int argumentsTaken = 0;
bool overread = false;

enum Type { Unknown, Char, WideChar, String, WideString, Signed, Unsigned, Hex };

struct Directive {
    bool left = false, prefix = false, zero = false, upper = false;
    unsigned width = 0, precision = 0;
    Type type = Unknown;
};

// Parses the directive after '%'; answers how many bytes it took. An
// unknown type is not taken, so it is printed as the next plain character.
int Parse(const char* spec, Directive* d)
{
    const char* p = spec;
    bool isLong = false, isShort = false, isWide = false;
    if (*p == '-') { d->left = true; ++p; }
    if (*p == '#') { d->prefix = true; ++p; }
    if (*p == '0') { d->zero = true; ++p; }
    while (*p >= '0' && *p <= '9') d->width = d->width * 10 + (*p++ - '0');
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') d->precision = d->precision * 10 + (*p++ - '0');
    }
    if (*p == 'l') { isLong = true; ++p; }
    else if (*p == 'h') { isShort = true; ++p; }
    else if (*p == 'w') { isWide = true; ++p; }
    switch (*p) {
    case 'c': d->type = isLong ? WideChar : Char; break;
    case 'C': d->type = isShort ? Char : WideChar; break;
    case 'd':
    case 'i': d->type = Signed; break;
    case 's': d->type = (isLong || isWide) ? WideString : String; break;
    case 'S': d->type = (isShort || isWide) ? String : WideString; break;
    case 'u': d->type = Unsigned; break;
    case 'X': d->upper = true; d->type = Hex; break;
    case 'x': d->type = Hex; break;
    default: d->type = Unknown; return static_cast<int>(p - spec);
    }
    return static_cast<int>(p - spec) + 1;
}

bool TakeArgument()
{
    if (argumentLimit >= 0 && argumentsTaken >= argumentLimit) {
        overread = true;
        return false;
    }
    ++argumentsTaken;
    return true;
}

class Output {
public:
    Output(char* buffer) : p_(buffer), start_(buffer) {}
    bool Full() const { return p_ - start_ >= 1023; }
    void Put(char c)
    {
        if (!Full()) *p_++ = c;
    }
    void Pad(unsigned count, char c)
    {
        for (unsigned i = 0; i < count; ++i) Put(c);
    }
    int Finish()
    {
        *p_ = '\0';
        return static_cast<int>(p_ - start_);
    }

private:
    char* p_;
    char* start_;
};

}  // namespace

int WINAPI wvsprintfA(LPSTR buffer, LPCSTR spec, va_list args)
{
    Output out(buffer);
    static const char nullText[] = "(null)";
    static const WCHAR nullWide[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    while (*spec && !out.Full()) {
        if (*spec != '%') {
            out.Put(*spec++);
            continue;
        }
        ++spec;
        if (*spec == '%') {
            out.Put(*spec++);
            continue;
        }
        Directive d;
        spec += Parse(spec, &d);
        if (d.type == Unknown) continue;

        bool have = TakeArgument();
        char body[64];
        unsigned length = 0;
        const char* text = nullptr;
        const WCHAR* wide = nullptr;
        bool number = false;
        switch (d.type) {
        case Char:
        case WideChar:
            body[0] = have ? static_cast<char>(va_arg(args, int)) : '?';
            length = 1;
            text = body;
            break;
        case String:
            text = have ? va_arg(args, const char*) : nullptr;
            if (!text) text = nullText;
            while ((!d.precision || length < d.precision) && text[length]) ++length;
            break;
        case WideString:
            wide = have ? va_arg(args, const WCHAR*) : nullptr;
            if (!wide) wide = nullWide;
            while ((!d.precision || length < d.precision) && wide[length]) ++length;
            break;
        default: {
            int value = have ? va_arg(args, int) : 0;
            const char* form = d.type == Signed ? "%d" : d.type == Unsigned ? "%u" : d.upper ? "%X" : "%x";
            length = static_cast<unsigned>(snprintf(body, sizeof(body), form, value));
            text = body;
            number = true;
            break;
        }
        }
        // Numbers: precision is the least count of digits; '0' pads to the width.
        unsigned shown = length;
        unsigned digits = length;
        const char* sign = "";
        if (number && text[0] == '-') {
            sign = "-";
            ++text;
            --digits;
        }
        const char* prefix = (number && d.type == Hex && d.prefix) ? (d.upper ? "0X" : "0x") : "";
        unsigned zeros = 0;
        if (number) {
            unsigned least = d.precision;
            if (d.zero && !d.left && d.width > least) least = d.width;
            zeros = least > length ? least - length : 0;
            shown = length + zeros + static_cast<unsigned>(strlen(prefix));
        }
        if (!d.left && d.width > shown) out.Pad(d.width - shown, ' ');
        for (const char* q = prefix; *q; ++q) out.Put(*q);
        for (const char* q = sign; *q; ++q) out.Put(*q);
        out.Pad(zeros, '0');
        if (wide) {
            for (unsigned i = 0; i < length; ++i) out.Put(static_cast<char>(wide[i]));
        } else {
            unsigned count = number ? digits : length;
            for (unsigned i = 0; i < count; ++i) out.Put(text[i]);
        }
        if (d.left && d.width > shown) out.Pad(d.width - shown, ' ');
    }
    return out.Finish();
}

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR spec, ...)
{
    va_list args;
    va_start(args, spec);
    int n = wvsprintfA(buffer, spec, args);
    va_end(args);
    return n;
}

void StandinLimitFormatArguments(int count)
{
    argumentLimit = count;
    argumentsTaken = 0;
    overread = false;
}

bool StandinFormatOverread() { return overread; }
int StandinFormatArgumentsTaken() { return argumentsTaken; }
