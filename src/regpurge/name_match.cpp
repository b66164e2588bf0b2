#include "regpurge/name_match.h"

#include <windows.h>

void UpperCaseAscii(char* text)
{
    for (int i = 0; text[i] != '\0'; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i]))) {
            if (text[i + 1] == '\0') break;
            ++i;
            continue;
        }
        if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
    }
}

int ContainsPattern(const char* text, const char* pattern, int digitBoundary)
{
    if (pattern[0] == '\0') return 0;
    for (int i = 0; text[i] != '\0'; ++i) {
        int n = 0;
        while (pattern[n] != '\0' && text[i + n] == pattern[n]) ++n;
        if (pattern[n] == '\0') {
            char next = text[i + n];
            if (!digitBoundary || next < '0' || next > '9') return 1;
        }
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i]))) {
            if (text[i + 1] == '\0') break;
            ++i;
        }
    }
    return 0;
}
