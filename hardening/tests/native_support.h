// Helpers of the native tests.
#pragma once

#include <stdlib.h>
#include <string.h>

#include <string>

// A heap block of exactly the given size, so AddressSanitizer reports a
// read or write even one byte past it. Bytes not set are 0x7E, so a missing
// terminator shows.
class ExactBuffer {
public:
    explicit ExactBuffer(size_t size, const std::string& text = std::string())
        : size_(size), data_(static_cast<char*>(malloc(size ? size : 1)))
    {
        memset(data_, 0x7E, size_);
        if (size_ > 0) {
            size_t n = text.size() < size_ - 1 ? text.size() : size_ - 1;
            memcpy(data_, text.data(), n);
            data_[n] = '\0';
        }
    }
    ~ExactBuffer() { free(data_); }
    ExactBuffer(const ExactBuffer&) = delete;
    ExactBuffer& operator=(const ExactBuffer&) = delete;

    char* Get() { return data_; }
    int Size() const { return static_cast<int>(size_); }
    // The text up to the terminator, which must lie inside the block.
    bool Terminated() const { return memchr(data_, 0, size_) != nullptr; }
    std::string Text() const { return Terminated() ? std::string(data_) : std::string(data_, size_); }

private:
    size_t size_;
    char* data_;
};

// Whether the last byte of a code page 936 text is a lead byte left alone.
bool EndsInLoneLeadByte(const std::string& text);

// The text in UTF-8 (for messages) and in code page 936 (for inputs).
std::string Show(const std::string& gbk);
