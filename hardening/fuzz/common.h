// Shared pieces of the fuzz targets: the input layout, invariant checks
// that stop the run with a message, and the program state each input
// starts from.
//
// Input layout of every target: a fixed number of header bytes (read with
// Byte/Word; missing ones read as 0), then texts separated by NUL bytes
// (read with Text; missing ones are empty). The seed corpus in
// hardening/corpus/<target>/ is written in this layout by
// hardening/corpus/make_seeds.py.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "shell/app.h"
#include "standin/normal_start.h"
#include "shell/config.h"
#include "shell/paths.h"
#include "shell/text.h"
#include "standin/standin.h"

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size, size_t headerBytes)
        : data_(data), size_(size), header_(headerBytes < size ? headerBytes : size), pos_(header_)
    {
    }

    unsigned Byte(size_t index) const { return index < header_ ? data_[index] : 0; }
    unsigned Word(size_t index) const { return Byte(index) | Byte(index + 1) << 8; }

    // The next NUL-separated text.
    std::string Text()
    {
        size_t start = pos_;
        while (pos_ < size_ && data_[pos_] != 0) ++pos_;
        std::string text(reinterpret_cast<const char*>(data_) + start, pos_ - start);
        if (pos_ < size_) ++pos_;
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t header_;
    size_t pos_;
};

// A heap block of exactly the given size (AddressSanitizer sees one byte
// past it), filled with 0x7E so a missing terminator shows.
class Block {
public:
    explicit Block(size_t size, const std::string& text = std::string())
        : size_(size ? size : 1), data_(static_cast<char*>(malloc(size_)))
    {
        memset(data_, 0x7E, size_);
        size_t n = text.size() < size_ - 1 ? text.size() : size_ - 1;
        memcpy(data_, text.data(), n);
        data_[n] = '\0';
    }
    ~Block() { free(data_); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    char* Get() { return data_; }
    int Size() const { return static_cast<int>(size_); }
    bool Terminated() const { return memchr(data_, 0, size_) != nullptr; }
    std::string Text() const { return std::string(data_, strnlen(data_, size_)); }

private:
    size_t size_;
    char* data_;
};

#define CHECK(cond, ...)                                                     \
    do {                                                                     \
        if (!(cond)) {                                                       \
            fprintf(stderr, "invariant failed at %s:%d: %s\n  ", __FILE__, __LINE__, #cond); \
            fprintf(stderr, __VA_ARGS__);                                    \
            fprintf(stderr, "\n");                                           \
            abort();                                                         \
        }                                                                    \
    } while (0)

// Byte kinds by an independent walk: 0 single, 1 lead, 2 trail.
inline std::string Kinds(const std::string& text)
{
    std::string kinds(text.size(), 0);
    int state = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        state = state == 1 ? 2 : (IsDBCSLeadByte(static_cast<BYTE>(text[i])) ? 1 : 0);
        kinds[i] = static_cast<char>(state);
    }
    return kinds;
}

inline bool EndsInLoneLead(const std::string& text)
{
    return !text.empty() && Kinds(text).back() == 1;
}

inline bool ValidGbk(const std::string& text)
{
    if (text.empty()) return true;
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                               nullptr, 0) > 0;
}

inline std::string Hex(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        char b[8];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            snprintf(b, sizeof(b), "\\x%02X", c);
            out += b;
        }
        if (out.size() > 600) {
            out += "...";
            break;
        }
    }
    return out;
}
