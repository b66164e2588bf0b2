// Records the message boxes the code under test shows and answers them
// without a window. Texts are kept as the ANSI bytes the program passed.
#pragma once
#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "support/import_patch.h"

struct RecordedBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};

class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();

    // Answers given to the next boxes, in order; IDOK once they run out.
    void Answer(int answer) { answers_.push_back(answer); }
    const std::vector<RecordedBox>& Boxes() const { return boxes_; }
    size_t Count() const { return boxes_.size(); }
    // "caption: text" of every box, for failure messages.
    std::string Describe() const;

private:
    static int WINAPI Replacement(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
    static BoxRecorder* current_;

    std::vector<RecordedBox> boxes_;
    std::deque<int> answers_;
    BoxRecorder* previous_;
    ImportPatch patch_;
};

// The system's message text for an error code, as ShowSystemError shows it.
std::string SystemMessage(DWORD code);
