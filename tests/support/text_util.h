// Conversions between the UTF-8 of the test sources and the ANSI code page
// the program works in.
#pragma once
#include <string>

std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);
