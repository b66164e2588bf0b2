// Bounded path routines, safe for double-byte code pages: they never cut a
// double-byte character in half and never take its trail byte for a
// backslash or a dot.
#pragma once
#include <windows.h>

// 0 single-byte character, 1 lead byte, 2 trail byte at the index.
int DbcsStateAt(const char* text, int index);
int CopyBounded(char* destination, const char* source, int maximum, int* copied = nullptr);
int AppendBounded(char* destination, const char* text, int maximum, int* length = nullptr);
int GetModuleDirectory(char* buffer, int size);
int AddBackslash(char* path, int size);
int RemoveBackslash(char* path);
// 0 for an empty path, or when the new extension did not fit whole.
int ReplaceExtension(char* path, const char* extension, int maximum);
// 1 for a name that Windows opens as a device whatever folder it is in: CON,
// PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, CONIN$, CONOUT$, in any letter case,
// with or without an extension ("COM1.inf" is the serial port).
int IsDosDeviceName(const char* name);

DWORD GetFileVersionMS(const char* path);
int GetFileVersion(const char* path, WORD* major, WORD* minor, WORD* build, WORD* revision);
