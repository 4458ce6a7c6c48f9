#include "heap_text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

heap_text::~heap_text()
{
    std::free(data_);
}

int heap_text::append(std::span<const char> bytes)
{
    // Room for the bytes and the zero byte behind them, doubling as it grows.
    if (bytes.size() >= cap_ - size_) {
        size_t cap = cap_ ? cap_ : 4096;
        while (cap - size_ <= bytes.size())
            cap *= 2;
        char *grown = static_cast<char *>(std::realloc(data_, cap));
        if (!grown)
            return -ENOMEM;
        data_ = grown;
        cap_ = cap;
    }
    std::memcpy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
    data_[size_] = '\0';
    return 0;
}

void heap_text::clear()
{
    size_ = 0;
    if (data_)
        data_[0] = '\0';
}

int heap_text::resize(size_t n)
{
    if (n >= cap_) {
        // Exactly what is asked: a buffer of the device's size stays one.
        char *grown = static_cast<char *>(std::realloc(data_, n + 1));
        if (!grown)
            return -ENOMEM;
        data_ = grown;
        cap_ = n + 1;
    }
    if (n > size_)
        std::memset(data_ + size_, 0, n - size_);
    size_ = n;
    if (data_)
        data_[size_] = '\0';
    return 0;
}
