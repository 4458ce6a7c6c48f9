#include "heap_text.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>

namespace {

// Texts grow in whole pages of their own mapping, which the system gives
// and takes back whole: no allocator is needed for a handful of texts.
constexpr size_t page_size = 4096;

} // namespace

heap_text::~heap_text()
{
    if (data_)
        ::munmap(data_, cap_);
}

int heap_text::reserve(size_t n)
{
    if (n <= cap_)
        return 0;
    if (n > static_cast<size_t>(-1) - page_size)
        return -ENOMEM;
    const size_t cap = (n + page_size - 1) / page_size * page_size;
    void *p = data_ ? ::mremap(data_, cap_, cap, MREMAP_MAYMOVE)
                    : ::mmap(nullptr, cap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return -ENOMEM;
    data_ = static_cast<char *>(p);
    cap_ = cap;
    return 0;
}

int heap_text::append(std::span<const char> bytes)
{
    // Room for the bytes and the zero byte behind them, doubling as it grows.
    if (bytes.size() >= cap_ - size_) {
        size_t cap = cap_ ? cap_ : page_size;
        while (cap - size_ <= bytes.size() && cap <= static_cast<size_t>(-1) / 2)
            cap *= 2;
        if (cap - size_ <= bytes.size() || reserve(cap) != 0)
            return -ENOMEM;
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
    if (n >= cap_ && (n == static_cast<size_t>(-1) || reserve(n + 1) != 0))
        return -ENOMEM;
    if (n > size_)
        std::memset(data_ + size_, 0, n - size_);
    size_ = n;
    if (data_)
        data_[size_] = '\0';
    return 0;
}
