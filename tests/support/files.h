// Scratch folders and files for tests.
#pragma once
#include <string>

// A fresh folder below the temporary folder, removed with its content when
// the object goes.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name = "q9");
    ~ScratchDir();
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

bool WriteFileText(const std::string& path, const std::string& text);
std::string ReadFileText(const std::string& path);
bool FileExists(const std::string& path);
void RemoveTree(const std::string& path);
std::string WindowsDir();
