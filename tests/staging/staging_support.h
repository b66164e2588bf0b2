// Shared by the staging tests: the test build's driver packages and the
// copies the system makes of them in the prefix's INF folder.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "shell/product.h"
#include "support/files.h"

// build/tests-<arch>/dist, beside the folder of the test program.
inline std::string DistDir()
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path = exe;
    path.resize(path.rfind('\\'));  // tests
    path.resize(path.rfind('\\'));  // the test build
    return path + "\\dist";
}

inline std::string DriversDir()
{
    return DistDir() + "\\Drivers";
}

inline std::string InfDir()
{
    return WindowsDir() + "\\inf";
}

inline std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// Names of the INF files in the INF folder whose content is the package's:
// the system may keep the package's own name or give it an oemN.inf name.
inline std::vector<std::string> CopiesOf(const std::string& package)
{
    std::string content = ReadFileText(DriversDir() + "\\" + package);
    std::vector<std::string> copies;
    if (content.empty()) return copies;
    for (const std::string& name : ListFiles(InfDir(), "*.inf"))
        if (ReadFileText(InfDir() + "\\" + name) == content) copies.push_back(name);
    return copies;
}

// Deletes every copy of the four packages with its precompiled companion,
// and the catalogs the system added for them.
inline void RemovePackageCopies()
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    std::string catalogs =
        std::string(system) + "\\catroot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";
    for (const char* package : packageInfNames) {
        std::string catalog = package;
        RemoveTree(catalogs + "\\" + catalog.substr(0, catalog.size() - 4) + ".cat");
    }
    for (const char* package : packageInfNames) {
        for (const std::string& name : CopiesOf(package)) {
            std::string path = InfDir() + "\\" + name;
            RemoveTree(path);
            RemoveTree(path.substr(0, path.size() - 4) + ".pnf");
        }
    }
}
