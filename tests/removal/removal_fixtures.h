// Shared helpers of the removal tests: a recorder of file deletions, the
// driver-package tool stand-in installed into the system folder, and message
// box checks.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/box_recorder.h"
#include "support/files.h"
#include "support/import_patch.h"

// Records every DeleteFileA of the test program (the product library's
// included) and lets it go through to the system.
class DeleteFileRecorder {
public:
    DeleteFileRecorder()
        : patch_("kernel32.dll", "DeleteFileA", reinterpret_cast<void*>(&Replacement))
    {
        EXPECT_TRUE(patch_.Applied());
        original_ = reinterpret_cast<decltype(&DeleteFileA)>(patch_.Original());
        current_ = this;
    }
    ~DeleteFileRecorder() { current_ = nullptr; }

    std::vector<std::string> paths;

private:
    static BOOL WINAPI Replacement(LPCSTR path)
    {
        if (current_) current_->paths.push_back(path ? path : "");
        return original_(path);
    }
    static inline DeleteFileRecorder* current_ = nullptr;
    static inline decltype(&DeleteFileA) original_ = nullptr;
    ImportPatch patch_;
};

inline std::string SystemDir()
{
    char dir[MAX_PATH];
    UINT n = GetSystemDirectoryA(dir, MAX_PATH);
    return std::string(dir, n);
}

inline std::string TestProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, n);
    return text.substr(0, text.rfind('\\'));
}

// The stand-in pnputil.exe of the test build, copied into the system folder
// for the life of the object; its log starts empty.
class PnputilStandIn {
public:
    explicit PnputilStandIn(bool install = true)
        : installed_(SystemDir() + "\\pnputil.exe"), log_("C:\\pnputil.log")
    {
        DeleteFileA(log_.c_str());
        DeleteFileA(installed_.c_str());
        if (install) {
            std::string source = TestProgramDir() + "\\pnputil.exe";
            EXPECT_TRUE(CopyFileA(source.c_str(), installed_.c_str(), FALSE))
                << "cannot copy " << source << " into the system folder";
        }
    }
    ~PnputilStandIn()
    {
        DeleteFileA(installed_.c_str());
        DeleteFileA(log_.c_str());
    }

    const std::string& InstalledPath() const { return installed_; }
    // Each start: the command line the tool received and the path it ran from.
    struct Start {
        std::string commandLine;
        std::string image;
    };
    std::vector<Start> Starts() const
    {
        std::vector<Start> starts;
        std::string text = ReadFileText(log_);
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            size_t tab = line.find('\t');
            if (!line.empty()) starts.push_back({line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
            pos = end + 2;
        }
        return starts;
    }
    std::vector<std::string> CommandLines() const
    {
        std::vector<std::string> lines;
        for (const Start& start : Starts()) lines.push_back(start.commandLine);
        return lines;
    }

private:
    std::string installed_;
    std::string log_;
};

// Sets an environment variable for the life of the object (children started
// with the program's environment inherit it).
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name)
    {
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedEnvironment() { SetEnvironmentVariableA(name_.c_str(), nullptr); }

private:
    std::string name_;
};

// Exactly one ShowSystemError box for the code.
inline void ExpectOneSystemError(const BoxRecorder& boxes, DWORD code)
{
    ASSERT_EQ(1u, boxes.Count()) << boxes.Describe();
    EXPECT_EQ(SystemMessage(code), boxes.Boxes()[0].text);
    EXPECT_EQ("Error", boxes.Boxes()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR | MB_OK), boxes.Boxes()[0].style);
    EXPECT_EQ(nullptr, boxes.Boxes()[0].owner);
}

// An INF whose model section's first line carries the given hardware id in
// field 2 (and, when given, a second line).
inline std::string PhoneInfText(const std::string& firstLine, const std::string& secondLine = "")
{
    std::string text =
        "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
        "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\r\nProvider=TAVRO\r\n\r\n"
        "[Manufacturer]\r\nTAVRO=Tavro_wmc\r\n\r\n[Tavro_wmc]\r\n" +
        firstLine + "\r\n";
    if (!secondLine.empty()) text += secondLine + "\r\n";
    text += "\r\n[Install]\r\n";
    return text;
}
