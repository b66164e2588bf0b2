// A machine as text lines (tests/machine.py writes them), and registry exports.
#pragma once
#include <string>
#include <vector>

// Applies seed lines (fields split by tabs, paths below HKEY_LOCAL_MACHINE):
//   key <path> | sz|expand_sz <path> <name> <text> | multi_sz <path> <name> <text>...
//   dword <path> <name> <number> | binary <path> <name> <hex> | service <name> <binary path>
//   device <instance id> <class GUID> <description> <hardware id>... | file <path> <hex> [readonly]
// Answers how many lines failed (told on stderr); an existing device or service counts as written.
int ApplySeed(const std::vector<std::string>& lines);
std::vector<std::string> ReadLines(const char* file);

// Every key and value below the paths, sorted: "K <path>", "V <path>\t<name>\t<type>\t<hex data>".
std::vector<std::string> ExportRegistry(const std::vector<std::string>& paths);
