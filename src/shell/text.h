// Texts from the string table and the placeholder list that fills in the
// brand names. Every routine works on a caller's fixed buffer given with its
// size in bytes (terminator included) and leaves it terminated.
#pragma once
#include <windows.h>

// A heap-held, terminated ANSI text used while substituting.
class HeapText {
public:
    HeapText() = default;
    ~HeapText();
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;

    bool Assign(const char* text, int length);
    void Adopt(char* text, int length);  // takes a buffer from HeapAlloc
    const char* Get() const { return data_ ? data_ : ""; }
    int Length() const { return length_; }

private:
    char* data_ = nullptr;
    int length_ = 0;
};

class PlaceholderList {
public:
    PlaceholderList();
    ~PlaceholderList();
    PlaceholderList(const PlaceholderList&) = delete;
    PlaceholderList& operator=(const PlaceholderList&) = delete;

    void AddPlaceholder(const char* placeholder, const char* value);
    // Replaces every placeholder in the text; false (text unchanged) when a
    // text, placeholder or value cannot be converted.
    bool SubstitutePlaceholders(HeapText& text) const;
    bool SubstituteInBuffer(char* buffer, int size) const;
    // For texts handed to wvsprintfA: percent signs that did not come from
    // the text itself (brand names, or placeholders left by a failed
    // substitution) are doubled so the formatter prints them.
    void SubstituteForFormat(char* buffer, int size) const;

    int Count() const { return count_; }
    void Clear();

private:
    struct Node {
        Node* previous;
        Node* next;
        char* placeholder;
        char* value;
    };
    bool Substitute(HeapText& text, bool escapeForeignPercent) const;

    Node sentinel_;
    int count_ = 0;
    bool lostPair_ = false;  // an AddPlaceholder that could not allocate
    UINT codePage_ = CP_ACP;
};

PlaceholderList& Placeholders();

int LoadText(UINT id, char* buffer, int size);
int AppendText(UINT id, char* buffer, int size);
int CopyString(const char* text, char* buffer, int size);
int AppendString(const char* text, char* buffer, int size);
// The output buffer holds at least 1024 bytes.
int FormatText(UINT id, char* output, ...);

template <int N> int LoadText(UINT id, char (&buffer)[N]) { return LoadText(id, buffer, N); }
template <int N> int AppendText(UINT id, char (&buffer)[N]) { return AppendText(id, buffer, N); }
template <int N> int CopyString(const char* text, char (&buffer)[N]) { return CopyString(text, buffer, N); }
template <int N> int AppendString(const char* text, char (&buffer)[N]) { return AppendString(text, buffer, N); }

// Formats into a buffer of the given size with wvsprintfA's 1024-byte limit
// and keeps the result terminated inside the buffer.
int FormatBounded(char* output, int size, const char* format, va_list args);
