// Shared helpers of the removal tests.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/box_recorder.h"
#include "support/files.h"
#include "support/import_patch.h"

// Exactly one ShowSystemError box for the code; none for 0.
inline void ExpectShown(const BoxRecorder& boxes, DWORD code = 0)
{
    ASSERT_EQ(code ? 1u : 0u, boxes.Count()) << boxes.Describe();
    for (const RecordedBox& box : boxes.Boxes()) {
        EXPECT_EQ(SystemMessage(code), box.text);
        EXPECT_EQ("Error", box.caption);
    }
}

// Records every DeleteFileA of the test program and lets it through.
class DeleteFileRecorder {
public:
    DeleteFileRecorder() : original_(reinterpret_cast<decltype(&DeleteFileA)>(patch_.Original())) { current_ = this; }
    ~DeleteFileRecorder() { current_ = nullptr; }
    std::vector<std::string> paths;

private:
    static BOOL WINAPI Replacement(LPCSTR path)
    {
        current_->paths.push_back(path);
        return current_->original_(path);
    }
    static inline DeleteFileRecorder* current_ = nullptr;
    ImportPatch patch_{"kernel32.dll", "DeleteFileA", reinterpret_cast<void*>(&Replacement)};
    decltype(&DeleteFileA) original_;
};

// Files and folders made for one test, removed with it (folders only when
// the test made them), and other paths to remove when it ends.
class SeededFiles {
public:
    ~SeededFiles()
    {
        for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) RemoveTree(*it);
    }
    void Track(const std::string& path) { paths_.push_back(path); }
    void File(const std::string& path)
    {
        Track(path);
        EXPECT_TRUE(WriteFileText(path, "seeded " + path)) << path;
    }
    void Folder(const std::string& path)
    {
        if (!FileExists(path) && CreateDirectoryA(path.c_str(), nullptr)) Track(path);
    }
    // The last-known-good twins of the INF and driver folders.
    void LastGoodFolders()
    {
        for (const char* dir : {"\\LastGood", "\\LastGood\\INF", "\\LastGood\\SYSTEM32", "\\LastGood\\SYSTEM32\\DRIVERS"})
            Folder(WindowsDir() + dir);
    }

private:
    std::vector<std::string> paths_;
};
