// Replaces one imported system function of the test program while the object lives; the product
// library is linked into the test program, so its calls go through the same import table.
#pragma once
#include <windows.h>

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
