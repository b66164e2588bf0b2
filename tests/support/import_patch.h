// Replaces one imported system function of the test program for the
// lifetime of the object. Calls from the product library linked into the
// test program go through the same import table, so they are redirected too.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

class ImportPatch {
public:
    ImportPatch(const char* dll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool Applied() const { return !slots_.empty(); }
    void* Original() const { return original_; }

private:
    std::vector<void**> slots_;
    void* original_ = nullptr;
};

// The address the test program's import table holds for a function now.
void* CurrentImport(const char* dll, const char* function);
