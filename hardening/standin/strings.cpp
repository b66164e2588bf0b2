// LoadStringA over the program's own string table: src/resources/strings.rc
// is read once (its texts are UTF-8, as windres reads them with code page
// 65001) and each text is kept as code page 936 bytes, which is what
// LoadStringA hands a program on a Chinese system.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "standin.h"

#ifndef QUELLIN_STRINGS_RC
#error "QUELLIN_STRINGS_RC must name src/resources/strings.rc"
#endif

namespace {

// Reads one quoted resource text starting at the opening quote; "" and \"
// stand for a quote, \\ \n \t for what C makes of them.
bool ReadQuoted(const std::string& line, size_t pos, std::string* out)
{
    if (pos >= line.size() || line[pos] != '"') return false;
    std::string text;
    for (size_t i = pos + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
                text += '"';
                ++i;
                continue;
            }
            *out = text;
            return true;
        }
        if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            switch (e) {
            case 'n': text += '\n'; break;
            case 't': text += '\t'; break;
            case 'r': text += '\r'; break;
            case '0': text += '\0'; break;
            default: text += e; break;  // \\ and \"
            }
            continue;
        }
        text += c;
    }
    return false;
}

std::map<unsigned, std::string> ParseStringTable(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "standin: cannot read %s\n", path);
        abort();
    }
    std::map<unsigned, std::string> table;
    bool inTable = false;
    std::string line;
    while (std::getline(in, line)) {
        size_t b = line.find_first_not_of(" \t\r");
        if (b == std::string::npos) continue;
        std::string body = line.substr(b);
        if (body.compare(0, 11, "STRINGTABLE") == 0) continue;
        if (body.compare(0, 5, "BEGIN") == 0) { inTable = true; continue; }
        if (body.compare(0, 3, "END") == 0) { inTable = false; continue; }
        if (!inTable || body[0] < '0' || body[0] > '9') continue;
        unsigned id = static_cast<unsigned>(strtoul(body.c_str(), nullptr, 10));
        size_t quote = body.find('"');
        std::string text;
        if (quote == std::string::npos || !ReadQuoted(body, quote, &text)) {
            fprintf(stderr, "standin: unreadable string table line: %s\n", body.c_str());
            abort();
        }
        table[id] = Gbk(text);
    }
    if (table.empty()) {
        fprintf(stderr, "standin: no strings in %s\n", path);
        abort();
    }
    return table;
}

const std::map<unsigned, std::string>& ResourceTable()
{
    static std::map<unsigned, std::string>* table =
        new std::map<unsigned, std::string>(ParseStringTable(QUELLIN_STRINGS_RC));
    return *table;
}

std::map<unsigned, std::string>& Overrides()
{
    static std::map<unsigned, std::string> overrides;
    return overrides;
}

std::map<unsigned, bool>& Removed()
{
    static std::map<unsigned, bool> removed;
    return removed;
}

}  // namespace

// As LoadStringA: at most size - 1 bytes, never half a double-byte character,
// always terminated; 0 for a missing id; -1 for a size of 0.
int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size)
{
    if (size == 0) return -1;
    if (!buffer || size < 0) return 0;
    const std::string* text = nullptr;
    auto over = Overrides().find(id);
    if (over != Overrides().end()) {
        text = &over->second;
    } else if (!Removed().count(id)) {
        auto it = ResourceTable().find(id);
        if (it != ResourceTable().end()) text = &it->second;
    }
    int n = 0;
    if (text) {
        int length = static_cast<int>(text->size());
        while (n < length) {
            int step = IsDBCSLeadByte(static_cast<BYTE>((*text)[n])) && n + 1 < length ? 2 : 1;
            if (n + step > size - 1) break;
            n += step;
        }
        memcpy(buffer, text->data(), n);
    }
    buffer[n] = '\0';
    return n;
}

void StandinSetString(unsigned id, const std::string& text)
{
    Removed().erase(id);
    Overrides()[id] = text;
}

void StandinRemoveString(unsigned id)
{
    Overrides().erase(id);
    Removed()[id] = true;
}

void StandinResetStrings()
{
    Overrides().clear();
    Removed().clear();
}
