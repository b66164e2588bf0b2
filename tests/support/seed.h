// A machine state described as text lines (tests/machine.py writes them) and
// registry exports to compare before and after a run.
#pragma once
#include <string>
#include <vector>

// Applies seed lines, one operation per line, fields separated by tabs,
// paths below HKEY_LOCAL_MACHINE:
//   key <path> | sz|expand_sz <path> <name> <text> | multi_sz <path> <name> <text>...
//   dword <path> <name> <number> | binary <path> <name> <hex>
//   device <instance id> <class GUID> <description> <hardware id>...
//   service <name> <binary path>
//   file <windows path> <hex content> [readonly]
// Answers the number of lines that failed (each told on stderr). A device or
// service that already exists counts as written.
int ApplySeed(const std::vector<std::string>& lines);
std::vector<std::string> ReadLines(const char* file);

// Every key and value below the paths, sorted: "K <path>" and
// "V <path>\t<name>\t<type>\t<hex data>".
std::vector<std::string> ExportRegistry(const std::vector<std::string>& paths);
