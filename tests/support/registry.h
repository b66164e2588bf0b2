// Registry helpers for tests: seed keys and values below HKEY_LOCAL_MACHINE
// and read them back. Paths use backslashes and never start with the root.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace reg {

bool CreateKey(const std::string& path);
bool SetString(const std::string& path, const std::string& name, const std::string& value,
               DWORD type = REG_SZ);
bool SetDword(const std::string& path, const std::string& name, DWORD value);
bool SetBinary(const std::string& path, const std::string& name, const std::vector<BYTE>& data,
               DWORD type = REG_BINARY);
bool KeyExists(const std::string& path);
bool ValueExists(const std::string& path, const std::string& name);
// Value bytes (empty when missing) and its type.
std::vector<BYTE> GetValue(const std::string& path, const std::string& name, DWORD* type = nullptr);
std::string GetString(const std::string& path, const std::string& name);
std::vector<std::string> SubKeys(const std::string& path);
std::vector<std::string> ValueNames(const std::string& path);
void DeleteTree(const std::string& path);
// Every key and value below a path, one line each, sorted: for comparing a
// tree before and after.
std::string Export(const std::string& path);

}  // namespace reg

// Counts registry keys opened and closed through the test program's imports
// while it lives; Balance() is the number still open.
class KeyBalance {
public:
    KeyBalance();
    ~KeyBalance();
    int Opened() const;
    int Closed() const;
    int Balance() const { return Opened() - Closed(); }

private:
    struct Patches;
    Patches* patches_;
};

// Removes the listed trees now and again when the test ends.
class RegistryScratch {
public:
    explicit RegistryScratch(std::vector<std::string> paths);
    ~RegistryScratch();

private:
    std::vector<std::string> paths_;
};
