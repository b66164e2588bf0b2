#include "support/box_recorder.h"

namespace {
BoxRecorder* current = nullptr;
}

BoxRecorder::BoxRecorder()
    : previous_(current), patch_("user32.dll", "MessageBoxA", reinterpret_cast<void*>(&Replacement))
{
    current = this;
}

BoxRecorder::~BoxRecorder() { current = previous_; }

int WINAPI BoxRecorder::Replacement(HWND, LPCSTR text, LPCSTR caption, UINT style)
{
    current->boxes_.push_back({text ? text : "", caption ? caption : "", style});
    return IDOK;
}

std::string BoxRecorder::Describe() const
{
    std::string all = boxes_.empty() ? "(no boxes)" : "";
    for (const RecordedBox& box : boxes_) all += "[" + box.caption + ": " + box.text + "]\n";
    return all;
}

std::string SystemMessage(DWORD code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
                   nullptr);
    std::string message = text ? text : "";
    if (text) LocalFree(text);
    return message;
}
