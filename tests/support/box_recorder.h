// Records the message boxes the code under test shows and answers them with
// OK, without a window; texts as the ANSI bytes the program passed.
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
    BoxRecorder();
    ~BoxRecorder();
    const std::vector<RecordedBox>& Boxes() const { return boxes_; }
    size_t Count() const { return boxes_.size(); }
    std::string Describe() const;  // every box, for failure messages

private:
    static int WINAPI Replacement(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
    std::vector<RecordedBox> boxes_;
    BoxRecorder* previous_;
    ImportPatch patch_;
};

// The system's message text for an error code, as the program shows it.
std::string SystemMessage(DWORD code);
