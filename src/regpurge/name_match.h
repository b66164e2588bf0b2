// Matching of registry names and values against a pattern, safe for
// double-byte code pages.
#pragma once

// Upper-cases the letters a to z in place; the bytes of double-byte
// characters are left alone, so no character turns into another.
void UpperCaseAscii(char* text);

// 1 when the pattern occurs in the text starting on a character boundary,
// else 0. With digitBoundary, an occurrence followed by a digit does not
// count, so COM1 does not match COM10: and OEM1 does not match OEM12.INF.
// An empty pattern matches nothing.
int ContainsPattern(const char* text, const char* pattern, int digitBoundary);
