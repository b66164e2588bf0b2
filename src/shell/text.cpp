#include "shell/text.h"

#include <stdarg.h>

#include "shell/app.h"
#include "shell/paths.h"

namespace {

// Bound on a text while substituting, so no pair of names can make it grow
// without end.
const int kMaxWorkingUnits = 1 << 16;

PlaceholderList placeholderList;

char* DuplicateText(const char* text, int length)
{
    char* copy = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 1));
    if (!copy) return nullptr;
    CopyMemory(copy, text, length);
    copy[length] = '\0';
    return copy;
}

void FreeText(char* text)
{
    if (text) HeapFree(GetProcessHeap(), 0, text);
}

// A UTF-16 working text; origin[i] is 1 where unit i came from the text
// being substituted and 0 where a value inserted it.
class WideText {
public:
    ~WideText() { Free(); }

    bool FromAnsi(UINT codePage, const char* text, int length)
    {
        Free();
        if (length <= 0) return false;
        int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
        if (n <= 0 || !Reserve(n)) return false;
        if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, length, data_, n) != n)
            return false;
        length_ = n;
        for (int i = 0; i < n; ++i) origin_[i] = 1;
        return true;
    }

    int Length() const { return length_; }

    int Find(const WideText& needle, int from) const
    {
        for (int i = from; i + needle.length_ <= length_; ++i) {
            int k = 0;
            while (k < needle.length_ && data_[i + k] == needle.data_[k]) ++k;
            if (k == needle.length_) return i;
        }
        return -1;
    }

    bool Replace(int at, int removed, const WideText& value)
    {
        int newLength = length_ - removed + value.length_;
        if (newLength > kMaxWorkingUnits || !Reserve(newLength)) return false;
        int tail = length_ - at - removed;
        MoveMemory(data_ + at + value.length_, data_ + at + removed, tail * sizeof(WCHAR));
        MoveMemory(origin_ + at + value.length_, origin_ + at + removed, tail);
        CopyMemory(data_ + at, value.data_, value.length_ * sizeof(WCHAR));
        for (int i = 0; i < value.length_; ++i) origin_[at + i] = 0;
        length_ = newLength;
        return true;
    }

    // Doubles every percent sign that a value brought in.
    bool EscapeInsertedPercent()
    {
        int extra = 0;
        for (int i = 0; i < length_; ++i)
            if (data_[i] == L'%' && !origin_[i]) ++extra;
        if (extra == 0) return true;
        if (length_ + extra > kMaxWorkingUnits || !Reserve(length_ + extra)) return false;
        int to = length_ + extra;
        for (int from = length_ - 1; from >= 0; --from) {
            data_[--to] = data_[from];
            origin_[to] = origin_[from];
            if (data_[from] == L'%' && !origin_[from]) {
                data_[--to] = L'%';
                origin_[to] = 0;
            }
        }
        length_ += extra;
        return true;
    }

    bool ToAnsi(UINT codePage, HeapText& out) const
    {
        int n = WideCharToMultiByte(codePage, 0, data_, length_, nullptr, 0, nullptr, nullptr);
        if (n <= 0) return false;
        char* bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, n + 1));
        if (!bytes) return false;
        if (WideCharToMultiByte(codePage, 0, data_, length_, bytes, n, nullptr, nullptr) != n) {
            HeapFree(GetProcessHeap(), 0, bytes);
            return false;
        }
        bytes[n] = '\0';
        out.Adopt(bytes, n);
        return true;
    }

private:
    bool Reserve(int units)
    {
        if (units <= capacity_) return true;
        int capacity = capacity_ ? capacity_ : 64;
        while (capacity < units) capacity *= 2;
        HANDLE heap = GetProcessHeap();
        WCHAR* data = static_cast<WCHAR*>(HeapAlloc(heap, 0, capacity * sizeof(WCHAR)));
        BYTE* origin = static_cast<BYTE*>(HeapAlloc(heap, 0, capacity));
        if (!data || !origin) {
            if (data) HeapFree(heap, 0, data);
            if (origin) HeapFree(heap, 0, origin);
            return false;
        }
        if (length_) {
            CopyMemory(data, data_, length_ * sizeof(WCHAR));
            CopyMemory(origin, origin_, length_);
        }
        int length = length_;
        Free();
        data_ = data;
        origin_ = origin;
        capacity_ = capacity;
        length_ = length;
        return true;
    }

    void Free()
    {
        HANDLE heap = GetProcessHeap();
        if (data_) HeapFree(heap, 0, data_);
        if (origin_) HeapFree(heap, 0, origin_);
        data_ = nullptr;
        origin_ = nullptr;
        capacity_ = 0;
        length_ = 0;
    }

    WCHAR* data_ = nullptr;
    BYTE* origin_ = nullptr;
    int length_ = 0;
    int capacity_ = 0;
};

void DoublePercentSigns(char* buffer, int size)
{
    // 0x25 is never the trail byte of a double-byte character, so a plain
    // byte scan is safe.
    char copy[4096] = {};
    int n = 0;
    for (const char* p = buffer; *p && n < static_cast<int>(sizeof(copy)) - 2; ++p) {
        copy[n++] = *p;
        if (*p == '%') copy[n++] = '%';
    }
    copy[n] = '\0';
    CopyBounded(buffer, copy, size - 1);
}

}  // namespace

HeapText::~HeapText() { FreeText(data_); }

bool HeapText::Assign(const char* text, int length)
{
    char* copy = DuplicateText(text, length);
    if (!copy) return false;
    Adopt(copy, length);
    return true;
}

void HeapText::Adopt(char* text, int length)
{
    FreeText(data_);
    data_ = text;
    length_ = length;
}

PlaceholderList& Placeholders() { return placeholderList; }

PlaceholderList::PlaceholderList()
{
    sentinel_.previous = &sentinel_;
    sentinel_.next = &sentinel_;
    sentinel_.placeholder = nullptr;
    sentinel_.value = nullptr;
}

PlaceholderList::~PlaceholderList() { Clear(); }

void PlaceholderList::Clear()
{
    Node* node = sentinel_.next;
    while (node != &sentinel_) {
        Node* next = node->next;
        FreeText(node->placeholder);
        FreeText(node->value);
        HeapFree(GetProcessHeap(), 0, node);
        node = next;
    }
    sentinel_.previous = &sentinel_;
    sentinel_.next = &sentinel_;
    count_ = 0;
    lostPair_ = false;
}

void PlaceholderList::AddPlaceholder(const char* placeholder, const char* value)
{
    Node* node = static_cast<Node*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Node)));
    if (!node) {
        lostPair_ = true;
        return;
    }
    node->placeholder = DuplicateText(placeholder, lstrlenA(placeholder));
    node->value = DuplicateText(value, lstrlenA(value));
    if (!node->placeholder || !node->value) {
        FreeText(node->placeholder);
        FreeText(node->value);
        HeapFree(GetProcessHeap(), 0, node);
        lostPair_ = true;
        return;
    }
    node->previous = sentinel_.previous;
    node->next = &sentinel_;
    sentinel_.previous->next = node;
    sentinel_.previous = node;
    ++count_;
}

bool PlaceholderList::Substitute(HeapText& text, bool escapeForeignPercent) const
{
    // A pair that could not be stored would leave its placeholder in every
    // text; such a text must not pass for a substituted one.
    if (lostPair_) return false;
    WideText work;
    if (!work.FromAnsi(codePage_, text.Get(), text.Length())) return false;
    for (const Node* node = sentinel_.next; node != &sentinel_; node = node->next) {
        WideText placeholder;
        WideText value;
        if (!placeholder.FromAnsi(codePage_, node->placeholder, lstrlenA(node->placeholder)))
            return false;
        if (!value.FromAnsi(codePage_, node->value, lstrlenA(node->value))) return false;
        // A value holding its own placeholder would be found again at once;
        // for it the search goes on behind the inserted text.
        const bool holdsItself = value.Find(placeholder, 0) >= 0;
        int from = 0;
        for (;;) {
            int at = work.Find(placeholder, from);
            if (at < 0) break;
            if (!work.Replace(at, placeholder.Length(), value)) return false;
            from = holdsItself ? at + value.Length() : 0;
        }
    }
    if (escapeForeignPercent && !work.EscapeInsertedPercent()) return false;
    return work.ToAnsi(codePage_, text);
}

bool PlaceholderList::SubstitutePlaceholders(HeapText& text) const { return Substitute(text, false); }

bool PlaceholderList::SubstituteInBuffer(char* buffer, int size) const
{
    HeapText text;
    if (!text.Assign(buffer, lstrlenA(buffer))) return false;
    if (!Substitute(text, false)) return false;
    if (size > 0) CopyBounded(buffer, text.Get(), size - 1);
    return true;
}

void PlaceholderList::SubstituteForFormat(char* buffer, int size) const
{
    HeapText text;
    if (text.Assign(buffer, lstrlenA(buffer)) && Substitute(text, true)) {
        if (size > 0) CopyBounded(buffer, text.Get(), size - 1);
        return;
    }
    // The placeholders stayed in the text, and "<%SERIES%>" holds "%S":
    // show every percent sign as it stands.
    DoublePercentSigns(buffer, size);
}

int LoadText(UINT id, char* buffer, int size)
{
    if (size < 1) return 0;
    buffer[0] = '\0';
    int n = LoadStringA(App().instance, id, buffer, size);
    if (n > 0) placeholderList.SubstituteInBuffer(buffer, size);
    return n;
}

int AppendText(UINT id, char* buffer, int size)
{
    int length = lstrlenA(buffer);
    if (length + 1 >= size) return 0;
    int room = size - length - 1;
    buffer[length] = '\0';
    int n = LoadStringA(App().instance, id, buffer + length, room);
    if (n <= 0) {
        buffer[length] = '\0';
        return 0;
    }
    placeholderList.SubstituteInBuffer(buffer + length, room);
    return lstrlenA(buffer);
}

int CopyString(const char* text, char* buffer, int size)
{
    if (size < 1) return 0;
    // A text that does not fit is not cut into some other name.
    if (lstrlenA(text) + 1 > size) {
        buffer[0] = '\0';
        return 0;
    }
    lstrcpyA(buffer, text);
    placeholderList.SubstituteInBuffer(buffer, size);
    return lstrlenA(buffer);
}

int AppendString(const char* text, char* buffer, int size)
{
    int length = lstrlenA(buffer);
    if (length + 1 >= size) return 0;
    int room = size - length - 1;
    if (lstrlenA(text) + 1 > room) return 0;
    lstrcpyA(buffer + length, text);
    placeholderList.SubstituteInBuffer(buffer + length, room);
    return lstrlenA(buffer);
}

int FormatBounded(char* output, int size, const char* format, va_list args)
{
    if (size < 1) return 0;
    char formatted[1025] = {};
    wvsprintfA(formatted, format, args);
    formatted[1024] = '\0';
    int length = 0;
    CopyBounded(output, formatted, size - 1, &length);
    return length;
}

int FormatText(UINT id, char* output, ...)
{
    char text[1024] = {};
    LoadStringA(App().instance, id, text, sizeof(text));
    placeholderList.SubstituteForFormat(text, sizeof(text));
    va_list args;
    va_start(args, output);
    int length = FormatBounded(output, 1024, text, args);
    va_end(args);
    return length;
}
