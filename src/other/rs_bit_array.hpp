// BitArray: a fixed number of bits packed 64 to a word, bit i in word i / 64 at
// position i % 64 from the least significant bit. Invariant: `words` holds
// ceil(size / 64) words and bits at or past `size` are never set.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace morvena {

class BitArray {
public:
    // All bits clear. The words come from calloc, so a large array costs only
    // address space until its bits are touched; a size that cannot be
    // allocated throws std::bad_alloc, which reaches Python as MemoryError.
    explicit BitArray(std::uint64_t size) : size_(size), word_count_(size / 64 + (size % 64 != 0)) {
        if (word_count_ > SIZE_MAX / sizeof(std::uint64_t)) throw std::bad_alloc();
        if (word_count_ == 0) return;
        words_.reset(static_cast<std::uint64_t *>(std::calloc(word_count_, sizeof(std::uint64_t))));
        if (!words_) throw std::bad_alloc();
    }

    std::uint64_t size() const noexcept { return size_; }
    std::uint64_t word_count() const noexcept { return word_count_; }

    // Both require i < size(); callers derive i by reducing into that range.
    void set(std::uint64_t i) noexcept { words_[i >> 6] |= std::uint64_t{1} << (i & 63); }
    bool get(std::uint64_t i) const noexcept { return (words_[i >> 6] >> (i & 63)) & 1; }

    // Whole words, for saving and restoring the bits as they are.
    std::uint64_t word(std::uint64_t w) const noexcept { return words_[w]; }
    void set_word(std::uint64_t w, std::uint64_t bits) noexcept { words_[w] = bits; }

    void clear() noexcept {
        if (word_count_) std::memset(words_.get(), 0, word_count_ * sizeof(std::uint64_t));
    }

private:
    struct Free {
        void operator()(std::uint64_t *p) const noexcept { std::free(p); }
    };

    std::uint64_t size_;
    std::uint64_t word_count_;
    std::unique_ptr<std::uint64_t[], Free> words_;
};

}  // namespace morvena
