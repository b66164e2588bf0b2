// Records the boxes the code under test shows and answers OK, without a window; texts as the ANSI bytes passed.
#pragma once
#include <string>
#include <vector>

#include "support/import_patch.h"

struct RecordedBox {
    std::string text, caption;
    UINT style;
};

class BoxRecorder {
public:
    BoxRecorder() : previous_(current), patch_("user32.dll", "MessageBoxA", reinterpret_cast<void*>(&Show))
    {
        current = this;
    }
    ~BoxRecorder() { current = previous_; }
    const std::vector<RecordedBox>& Boxes() const { return boxes_; }
    size_t Count() const { return boxes_.size(); }
    std::string Describe() const  // every box, for failure messages
    {
        std::string all = boxes_.empty() ? "(no boxes)" : "";
        for (const RecordedBox& box : boxes_) all += "[" + box.caption + ": " + box.text + "]\n";
        return all;
    }

private:
    static int WINAPI Show(HWND, LPCSTR text, LPCSTR caption, UINT style)
    {
        current->boxes_.push_back({text ? text : "", caption ? caption : "", style});
        return IDOK;
    }
    static inline BoxRecorder* current = nullptr;
    std::vector<RecordedBox> boxes_;
    BoxRecorder* previous_;
    ImportPatch patch_;
};

// The system's message text for an error code, as the program shows it.
inline std::string SystemMessage(DWORD code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text ? text : "";
    LocalFree(text);
    return message;
}
