#include "support/box_recorder.h"

BoxRecorder* BoxRecorder::current_ = nullptr;

BoxRecorder::BoxRecorder()
    : previous_(current_), patch_("user32.dll", "MessageBoxA", reinterpret_cast<void*>(&Replacement))
{
    current_ = this;
}

BoxRecorder::~BoxRecorder() { current_ = previous_; }

int WINAPI BoxRecorder::Replacement(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    BoxRecorder* self = current_;
    self->boxes_.push_back({owner, text ? text : "", caption ? caption : "", style});
    if (self->answers_.empty()) return IDOK;
    int answer = self->answers_.front();
    self->answers_.pop_front();
    return answer;
}

std::string BoxRecorder::Describe() const
{
    std::string all;
    for (const RecordedBox& box : boxes_)
        all += "[" + box.caption + ": " + box.text + "]\n";
    return all.empty() ? "(no boxes)" : all;
}

std::string SystemMessage(DWORD code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                       FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text ? text : "";
    if (text) LocalFree(text);
    return message;
}
