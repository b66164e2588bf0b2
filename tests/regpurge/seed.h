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

// The three control sets in the purge's order. A fresh prefix has no
// ControlSet001 or ControlSet002, so tests may remove them whole; below
// CurrentControlSet only the keys a test creates may go.
const std::string kSet[3] = {"SYSTEM\\ControlSet001", "SYSTEM\\ControlSet002",
                             "SYSTEM\\CurrentControlSet"};
const std::string kPhone = "VID_1B3F&PID_5C13";
const std::string kPorts = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const std::string kLastGoodRoot = "SYSTEM\\LastKnownGoodRecovery";
const std::string kLastGood = "SYSTEM\\LastKnownGoodRecovery\\LastGood";
const std::string kUnimodem = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific";
const std::string kModemKey = "TV4170K USB Modem::TAVRO::TAVRO";
const std::string kModemClass = "{4D36E96D-E325-11CE-BFC1-08002BE10318}";
// Made-up setup and interface classes, safe to create and remove in
// CurrentControlSet.
const std::string kTestClass = "{0C0FFEE0-7E57-4A11-9E57-00000000C1A5}";
const std::string kTestInterface = "{0C0FFEE0-7E57-4A11-9E57-00000000F00D}";

inline std::string EnumUsb(int set, const std::string& id)
{
    return kSet[set] + "\\Enum\\USB\\" + id;
}

// Every key a test below CurrentControlSet may create.
inline std::vector<std::string> CurrentSetScratch()
{
    std::vector<std::string> paths;
    for (const char* suffix : {"", "&Mi_01", "&Mi_03", "&Mi_05", "&Mi_07"})
        paths.push_back(EnumUsb(2, kPhone + suffix));
    paths.push_back(EnumUsb(2, "VID_1B3F&PID_5C14"));
    paths.push_back(EnumUsb(2, "VID_1B3F&PID_5C130"));
    paths.push_back(kSet[2] + "\\Control\\Class\\" + kTestClass);
    paths.push_back(kSet[2] + "\\Control\\DeviceClasses\\" + kTestInterface);
    paths.push_back(kSet[2] + "\\Control\\COM Name Arbiter");
    for (const char* name : {"LEGACY_TVybus", "LEGACY_TVymdm", "LEGACY_TVother"})
        paths.push_back(kSet[2] + "\\Enum\\Root\\" + name);
    paths.push_back(kSet[2] + "\\Services\\TVybus");
    return paths;
}

inline std::vector<std::string> AllScratch()
{
    std::vector<std::string> paths = {kSet[0], kSet[1], kLastGoodRoot, kUnimodem + "\\" + kModemKey,
                                      kUnimodem + "\\Other Modem", "RpTest",
                                      "HKEY_LOCAL_MACHINE"};
    for (const std::string& path : CurrentSetScratch()) paths.push_back(path);
    return paths;
}

// Keeps the values of one key and puts them back when it goes (the port
// settings key holds the prefix's own COM1: to LPT3:).
class SavedValues {
public:
    explicit SavedValues(std::string path) : path_(std::move(path))
    {
        for (const std::string& name : reg::ValueNames(path_)) {
            Value v{name, {}, 0};
            v.data = reg::GetValue(path_, name, &v.type);
            values_.push_back(v);
        }
    }
    ~SavedValues()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_ALL_ACCESS, &key) == 0) {
            for (const std::string& name : reg::ValueNames(path_)) RegDeleteValueA(key, name.c_str());
            RegCloseKey(key);
        }
        for (const Value& v : values_) reg::SetBinary(path_, v.name, v.data, v.type);
    }

private:
    struct Value {
        std::string name;
        std::vector<BYTE> data;
        DWORD type;
    };
    std::string path_;
    std::vector<Value> values_;
};

// Records, in order, every grant (a key opened for changing its access list)
// and every key deletion the code under test makes.
class RegistryLog {
public:
    RegistryLog()
    {
        current_ = this;
        open_ = new ImportPatch("advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&Open));
        delete_ = new ImportPatch("advapi32.dll", "RegDeleteKeyA", reinterpret_cast<void*>(&Delete));
    }
    ~RegistryLog()
    {
        delete delete_;
        delete open_;
        current_ = nullptr;
    }
    const std::vector<std::string>& Events() const { return events_; }
    std::vector<std::string> Grants() const { return Filter("grant "); }
    std::vector<std::string> Deletions() const { return Filter("delete "); }
    std::vector<REGSAM> OpenMasks() const { return masks_; }
    std::vector<std::string> OpenNames() const { return names_; }

private:
    std::vector<std::string> Filter(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& e : events_)
            if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e.substr(prefix.size()));
        return out;
    }
    static LONG WINAPI Open(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY out)
    {
        RegistryLog* self = current_;
        auto original = reinterpret_cast<decltype(&RegOpenKeyExA)>(self->open_->Original());
        self->masks_.push_back(access);
        self->names_.push_back(path ? path : "");
        if (access == (KEY_READ | WRITE_DAC)) self->events_.push_back(std::string("grant ") + path);
        return original(root, path, options, access, out);
    }
    static LONG WINAPI Delete(HKEY key, LPCSTR name)
    {
        RegistryLog* self = current_;
        auto original = reinterpret_cast<decltype(&RegDeleteKeyA)>(self->delete_->Original());
        LONG status = original(key, name);
        self->events_.push_back(std::string("delete ") + name);
        return status;
    }

    static inline RegistryLog* current_ = nullptr;
    ImportPatch* open_;
    ImportPatch* delete_;
    std::vector<std::string> events_;
    std::vector<REGSAM> masks_;
    std::vector<std::string> names_;
};

// The boxes shown are exactly ShowSystemError's boxes for these codes.
inline void ExpectSystemErrors(const BoxRecorder& boxes, const std::vector<DWORD>& codes)
{
    ASSERT_EQ(codes.size(), boxes.Count()) << boxes.Describe();
    for (size_t i = 0; i < codes.size(); ++i) {
        const RecordedBox& box = boxes.Boxes()[i];
        EXPECT_EQ(SystemMessage(codes[i]), box.text) << "box " << i << " for code " << codes[i];
        EXPECT_EQ("Error", box.caption);
        EXPECT_EQ(0x10u, box.style);
        EXPECT_EQ(nullptr, box.owner);
    }
}

}  // namespace seed
