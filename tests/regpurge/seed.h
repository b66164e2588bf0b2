// Seeding and observing the registry for the purge tests.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/box_recorder.h"
#include "support/import_patch.h"
#include "support/registry.h"

namespace seed {

using Bytes = std::vector<BYTE>;
using Strings = std::vector<std::string>;

// The three control sets in the purge's order. A fresh prefix has no
// ControlSet001 or ControlSet002, so tests may remove them whole; below
// CurrentControlSet only the keys listed in Scratch() may go.
const std::string kSet[3] = {"SYSTEM\\ControlSet001", "SYSTEM\\ControlSet002", "SYSTEM\\CurrentControlSet"};
const std::string kPhone = "VID_1B3F&PID_5C13";
const std::string kPorts = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const std::string kLastGood = "SYSTEM\\LastKnownGoodRecovery\\LastGood";
const std::string kUnimodem = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific";
const std::string kModemClass = "{4D36E96D-E325-11CE-BFC1-08002BE10318}";
// Made-up setup and interface classes, safe to create and remove in CurrentControlSet.
const std::string kTestClass = "{0C0FFEE0-7E57-4A11-9E57-00000000C1A5}";
const std::string kTestInterface = "{0C0FFEE0-7E57-4A11-9E57-00000000F00D}";

inline std::string EnumUsb(int set, const std::string& id) { return kSet[set] + "\\Enum\\USB\\" + id; }
inline std::string Arbiter(int set) { return kSet[set] + "\\Control\\COM Name Arbiter"; }

// Every tree a test may create or change: the keys it may create below
// CurrentControlSet, then the other control sets and keys of the purge.
inline Strings Scratch()
{
    const std::string c = kSet[2] + "\\";
    Strings paths = {c + "Control\\Class\\" + kTestClass, c + "Control\\DeviceClasses\\" + kTestInterface,
                     c + "Control\\COM Name Arbiter", c + "Enum\\Root\\LEGACY_TVybus", kSet[0], kSet[1],
                     "SYSTEM\\LastKnownGoodRecovery", kUnimodem + "\\TV4170K USB Modem::TAVRO::TAVRO",
                     kUnimodem + "\\Other Modem", "RpTest", "HKEY_LOCAL_MACHINE"};
    for (const char* id : {"3", "3&Mi_01", "3&Mi_03", "3&Mi_05", "30", "4"})
        paths.push_back(EnumUsb(2, std::string("VID_1B3F&PID_5C1") + id));
    return paths;
}

// Seeds from a compact table: "path" creates a key, "path|name=text" sets a string value.
inline void Seed(const Strings& entries)
{
    for (const std::string& e : entries) {
        const size_t bar = e.find('|'), eq = e.find('=', bar);
        if (bar == std::string::npos) {
            ASSERT_TRUE(reg::CreateKey(e)) << e;
        } else {
            const std::string path = e.substr(0, bar), name = e.substr(bar + 1, eq - bar - 1);
            ASSERT_TRUE(reg::SetString(path, name, e.substr(eq + 1))) << e;
        }
    }
}

// A key of the test's own, created if need be and open with all access for the scope.
struct OpenKey {
    HKEY key = nullptr;
    explicit OpenKey(const std::string& path)
    {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr);
    }
    ~OpenKey() { RegCloseKey(key); }
};

// Records in order every grant (a key opened for changing its access list) and
// key deletion, and the name and mask of every key opened.
struct RegistryLog {
    Strings events, opened;
    ImportPatch open{"advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&Open)};
    ImportPatch remove{"advapi32.dll", "RegDeleteKeyA", reinterpret_cast<void*>(&Delete)};
    static inline RegistryLog* current = nullptr;
    RegistryLog() { current = this; }

    static LONG WINAPI Open(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY out)
    {
        current->opened.push_back(path + (" " + std::to_string(access)));
        if (access == (KEY_READ | WRITE_DAC)) current->events.push_back(std::string("grant ") + path);
        auto original = reinterpret_cast<decltype(&RegOpenKeyExA)>(current->open.Original());
        return original(root, path, options, access, out);
    }
    static LONG WINAPI Delete(HKEY key, LPCSTR name)
    {
        current->events.push_back(std::string("delete ") + name);
        return reinterpret_cast<decltype(&RegDeleteKeyA)>(current->remove.Original())(key, name);
    }
};

// The boxes shown are exactly ShowSystemError's boxes for these codes.
inline void ExpectSystemErrors(const BoxRecorder& boxes, const std::vector<DWORD>& codes)
{
    ASSERT_EQ(codes.size(), boxes.Count()) << boxes.Describe();
    for (size_t i = 0; i < codes.size(); ++i) {
        const RecordedBox& box = boxes.Boxes()[i];
        EXPECT_EQ(SystemMessage(codes[i]), box.text) << "box " << i << " for code " << codes[i];
        EXPECT_TRUE(box.caption == "Error" && box.style == MB_ICONERROR && !box.owner) << box.caption;
    }
}

// Every test works on scratch trees and records the boxes. The port settings
// the tests add beside the prefix's own COM1: to LPT3: go before and after.
class RegistryTest : public testing::Test {
protected:
    RegistryScratch scratch{Scratch()};
    BoxRecorder boxes;
    RegistryTest() { ClearPorts(); }
    ~RegistryTest() override { ClearPorts(); }
    static void ClearPorts()
    {
        OpenKey key(kPorts);
        for (const char* name : {"COM0:", "COM5:", "COM6:", "COM7:", "COM9:", "COM12:", "COM50:", "COM60:"})
            RegDeleteValueA(key.key, name);
    }
};

}  // namespace seed
