// INF reading for the native build: an INF from the stand-in's file table
// is split into sections, lines and fields the way SetupAPI does for a
// Windows 4 style INF: "[section]" headers (names without regard to ASCII
// case), "key = field, field" lines, blanks around fields dropped, quoted
// fields ("" for a quote), ';' comments, '\' at a line's end joining the
// next line, and %name% replaced from [Strings] (%% is a percent sign).
// Double-byte characters are read whole, so their trail bytes are never
// taken for syntax. Open handles are counted for the balance checks.
#include <setupapi.h>

#include <map>
#include <string>
#include <vector>

#include "standin.h"

namespace {

struct Line {
    bool hasKey = false;
    std::vector<std::string> fields;  // [0] is the key (empty without one)
};

struct Inf {
    std::map<std::string, std::vector<Line>> sections;  // by folded name
};

int openInfs = 0;

std::string Fold(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool Lead(char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)); }

std::string Trim(const std::string& text)
{
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\r')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r')) --e;
    return text.substr(b, e - b);
}

// Logical lines: comments cut, continuations joined, characters whole.
std::vector<std::string> LogicalLines(const std::string& content)
{
    std::vector<std::string> lines;
    std::string current;
    bool quoted = false, comment = false;
    for (size_t i = 0; i < content.size(); ++i) {
        char c = content[i];
        if (c == '\n') {
            std::string trimmed = Trim(current);
            if (!comment && !trimmed.empty() && trimmed.back() == '\\' &&
                (trimmed.size() < 2 || !Lead(trimmed[trimmed.size() - 2]))) {
                current = trimmed.substr(0, trimmed.size() - 1);
                quoted = false;
                continue;
            }
            lines.push_back(current);
            current.clear();
            quoted = comment = false;
            continue;
        }
        if (comment) continue;
        if (Lead(c) && i + 1 < content.size() && content[i + 1] != '\n') {
            current += c;
            current += content[++i];
            continue;
        }
        if (c == '"') quoted = !quoted;
        if (c == ';' && !quoted) {
            comment = true;
            continue;
        }
        current += c;
    }
    lines.push_back(current);
    return lines;
}

// Splits "key = a, b" into fields. Blanks around a field are dropped
// unless a quote holds them.
Line SplitLine(const std::string& text)
{
    Line line;
    std::vector<std::string> values;
    std::string field;
    std::string quotedMask;  // per byte of field: 1 when inside quotes
    bool quoted = false, keyDone = false, sawComma = false;
    auto finish = [&]() {
        size_t b = 0, e = field.size();
        while (b < e && !quotedMask[b] && (field[b] == ' ' || field[b] == '\t')) ++b;
        while (e > b && !quotedMask[e - 1] && (field[e - 1] == ' ' || field[e - 1] == '\t')) --e;
        values.push_back(field.substr(b, e - b));
        field.clear();
        quotedMask.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (Lead(c) && i + 1 < text.size()) {
            field += c;
            field += text[++i];
            quotedMask.append(2, quoted ? 1 : 0);
            continue;
        }
        if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                quotedMask += '\1';
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        if (!quoted && c == '=' && !keyDone && !sawComma) {
            keyDone = true;
            finish();
            line.hasKey = true;
            continue;
        }
        if (!quoted && c == ',') {
            sawComma = true;
            finish();
            continue;
        }
        field += c;
        quotedMask += quoted ? '\1' : '\0';
    }
    finish();
    if (!line.hasKey) line.fields.push_back(std::string());
    for (auto& value : values) line.fields.push_back(value);
    return line;
}

std::string Substitute(const std::string& text, const std::map<std::string, std::string>& strings)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (Lead(c) && i + 1 < text.size()) {
            out += c;
            out += text[++i];
            continue;
        }
        if (c != '%') {
            out += c;
            continue;
        }
        size_t end = i + 1;
        while (end < text.size() && text[end] != '%') end += Lead(text[end]) && end + 1 < text.size() ? 2 : 1;
        if (end >= text.size()) {
            out += text.substr(i);
            break;
        }
        std::string name = text.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out += '%';
        } else {
            auto it = strings.find(Fold(name));
            out += it != strings.end() ? it->second : text.substr(i, end - i + 1);
        }
        i = end;
    }
    return out;
}

Inf* Parse(const std::string& content)
{
    Inf* inf = new Inf();
    std::vector<std::pair<std::string, std::string>> order;  // section, line text
    std::string section;
    bool inSection = false;
    for (const std::string& raw : LogicalLines(content)) {
        std::string text = Trim(raw);
        if (text.empty()) continue;
        if (text[0] == '[') {
            size_t close = 1;
            while (close < text.size() && text[close] != ']') close += Lead(text[close]) && close + 1 < text.size() ? 2 : 1;
            section = Fold(Trim(text.substr(1, close - 1)));
            inf->sections[section];
            inSection = true;
            continue;
        }
        if (inSection) order.emplace_back(section, text);
    }
    std::map<std::string, std::string> strings;
    for (const auto& entry : order) {
        if (entry.first != "STRINGS") continue;
        Line line = SplitLine(entry.second);
        if (line.hasKey && line.fields.size() > 1) strings[Fold(line.fields[0])] = line.fields[1];
    }
    for (const auto& entry : order) {
        Line line = SplitLine(entry.second);
        if (entry.first != "STRINGS")
            for (auto& field : line.fields) field = Substitute(field, strings);
        inf->sections[entry.first].push_back(line);
    }
    return inf;
}

}  // namespace

HINF WINAPI SetupOpenInfFileA(PCSTR fileName, PCSTR, DWORD, PUINT)
{
    std::string content;
    if (!fileName || !StandinReadFile(fileName, &content)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    ++openInfs;
    return Parse(content);
}

void WINAPI SetupCloseInfFile(HINF inf)
{
    if (!inf || inf == INVALID_HANDLE_VALUE) return;
    --openInfs;
    delete static_cast<Inf*>(inf);
}

BOOL WINAPI SetupFindFirstLineA(HINF handle, PCSTR section, PCSTR key, PINFCONTEXT context)
{
    Inf* inf = static_cast<Inf*>(handle);
    auto it = inf->sections.find(Fold(section ? section : ""));
    if (it == inf->sections.end()) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return FALSE;
    }
    for (size_t i = 0; i < it->second.size(); ++i) {
        const Line& line = it->second[i];
        if (key && (!line.hasKey || Fold(line.fields[0]) != Fold(key))) continue;
        context->Inf = inf;
        context->CurrentInf = &it->second;
        context->Section = 0;
        context->Line = static_cast<UINT>(i);
        return TRUE;
    }
    SetLastError(ERROR_LINE_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI SetupFindNextLine(PINFCONTEXT in, PINFCONTEXT out)
{
    const auto* lines = static_cast<const std::vector<Line>*>(in->CurrentInf);
    if (in->Line + 1 >= lines->size()) {
        SetLastError(ERROR_LINE_NOT_FOUND);
        return FALSE;
    }
    *out = *in;
    ++out->Line;
    return TRUE;
}

BOOL WINAPI SetupGetStringFieldA(PINFCONTEXT context, DWORD index, PSTR buffer, DWORD size, LPDWORD required)
{
    const auto* lines = static_cast<const std::vector<Line>*>(context->CurrentInf);
    const Line& line = (*lines)[context->Line];
    if (index >= line.fields.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string& field = line.fields[index];
    DWORD needed = static_cast<DWORD>(field.size()) + 1;
    if (required) *required = needed;
    if (!buffer) return TRUE;
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, field.c_str(), needed);
    return TRUE;
}

std::string DefaultInfFolder()
{
    char folder[MAX_PATH + 1];
    UINT n = GetWindowsDirectoryA(folder, sizeof(folder));
    return std::string(folder, n < sizeof(folder) ? n : 0) + "\\INF";
}

// The INF files of a folder (by their .inf extension), each name
// terminated, the list ended by one more terminator.
BOOL WINAPI SetupGetInfFileListA(PCSTR directory, DWORD, PSTR buffer, DWORD size, LPDWORD required)
{
    std::string list;
    std::vector<DWORD> attributes;
    std::vector<std::string> names = StandinListFolder(directory ? directory : DefaultInfFolder(), "*.inf", &attributes);
    for (size_t i = 0; i < names.size(); ++i)
        if (!(attributes[i] & FILE_ATTRIBUTE_DIRECTORY)) list += names[i] + std::string(1, '\0');
    list += '\0';
    DWORD needed = static_cast<DWORD>(list.size());
    if (required) *required = needed;
    if (!buffer) return TRUE;
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(buffer, list.data(), needed);
    return TRUE;
}

// Copies the INF into the INF folder under its own name (as Wine does when
// the name is free); a missing file fails with error 2.
BOOL WINAPI SetupCopyOEMInfA(PCSTR source, PCSTR, OEM_SOURCE_MEDIA_TYPE, DWORD, PSTR destination,
                             DWORD destinationSize, PDWORD required, PSTR* component)
{
    std::string content;
    if (!source || !StandinReadFile(source, &content)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::string name = source;
    for (size_t i = 0; i < name.size(); ++i) {
        if (Lead(name[i]) && i + 1 < name.size()) {
            ++i;
        } else if (name[i] == '\\') {
            name = name.substr(i + 1);
            i = static_cast<size_t>(-1);
        }
    }
    std::string target = DefaultInfFolder() + "\\" + name;
    StandinAddFile(target, content);
    if (required) *required = static_cast<DWORD>(target.size() + 1);
    if (destination && destinationSize > target.size()) memcpy(destination, target.c_str(), target.size() + 1);
    if (component) *component = nullptr;
    return TRUE;
}

int StandinOpenInfs() { return openInfs; }
