// Sole owner of a growable text in memory of its own (an anonymous mapping,
// grown in pages), for the few texts whose length only the input knows (a
// whole configuration, an overlong line) and the buffers sized by the device
// (a flash partition). Its bytes are always followed by a zero byte, so it
// can be handed to C strings.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

class heap_text {
    char *data_ = nullptr;
    size_t size_ = 0, cap_ = 0;

    // Room for `n` bytes in all. 0, or -ENOMEM with the text as it was.
    int reserve(size_t n);

public:
    heap_text() = default;
    heap_text(const heap_text &) = delete;
    heap_text &operator=(const heap_text &) = delete;
    ~heap_text();

    // 0, or -ENOMEM with the text as it was.
    [[nodiscard]] int append(std::span<const char> bytes);
    [[nodiscard]] int append(std::string_view s) { return append(std::span<const char>(s.data(), s.size())); }
    void clear();
    // Makes the text `n` bytes long, any new bytes zero. 0, or -ENOMEM with
    // the text as it was.
    [[nodiscard]] int resize(size_t n);

    std::span<char> writable() { return {data_, size_}; }
    std::span<const char> bytes() const { return {data_, size_}; }
    std::string_view view() const { return {data_ ? data_ : "", size_}; }
    size_t size() const { return size_; }
    bool ends_line() const { return size_ == 0 || data_[size_ - 1] == '\n'; }
};
