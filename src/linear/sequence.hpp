// What the sequence classes share about their elements: the growable array of
// references the stacks keep, the equality scan and the listing. A scan
// comparison that raises counts as "not equal" and the scan goes on, so a search
// over elements whose __eq__ raises finds nothing and raises nothing.
#pragma once

#include "elements.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace morvena {

// A stored element is held either as a Ref or as a raw owned slot of a
// hand-managed array; the scans below read both.
inline PyObject *object_of(const Ref &value) noexcept { return value.get(); }
inline PyObject *object_of(PyObject *value) noexcept { return value; }

// The position in `values` of the first element equal to `probe`, the stored
// element on the left. An element's __eq__ may read the structure but cannot
// change it (the borrow flag refuses), so the range stays valid.
template <class Range>
std::optional<std::uint64_t> position_of(const Range &values, PyObject *probe) {
    std::uint64_t position = 0;
    for (const auto &value : values) {
        if (equals_or_false(object_of(value), probe)) return position;
        ++position;
    }
    return std::nullopt;
}

// New references to the `size` elements of `values`, in order, as a Python list.
template <class Range>
Ref values_list(std::uint64_t size, const Range &values) {
    return element_list(size, values, [](const auto &value) { return object_of(value); });
}

// A growable array of owned references, index 0 first. It grows by doubling
// (4 slots first) through PyMem_Realloc, so a large array is extended in
// place where the allocator can, as list does, and capacity beyond `size` is
// raw memory that is never written or read. Exactly the slots below `size`
// hold a reference; each passes through Ref on its way in and out.
class RefArray {
public:
    RefArray() = default;
    RefArray(const RefArray &) = delete;
    RefArray &operator=(const RefArray &) = delete;
    RefArray(RefArray &&other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    RefArray &operator=(RefArray &&other) noexcept {
        RefArray old(std::move(*this));  // released once this array holds the new elements
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        return *this;
    }
    ~RefArray() {
        clear_from_back();
        PyMem_Free(data_);
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    PyObject *const *begin() const noexcept { return data_; }
    PyObject *const *end() const noexcept { return data_ + size_; }
    PyObject *back() const noexcept { return data_[size_ - 1]; }

    void push_back(Ref value) {
        if (size_ == capacity_) grow();
        data_[size_++] = value.release();
    }
    // The array is not empty.
    Ref pop_back() noexcept { return Ref::steal(data_[--size_]); }
    // Stores the new reference before the old one is released.
    void set(std::size_t i, Ref value) noexcept { Ref old = Ref::steal(std::exchange(data_[i], value.release())); }
    void swap(std::size_t i, std::size_t j) noexcept { std::swap(data_[i], data_[j]); }
    void reverse() noexcept { std::reverse(data_, data_ + size_); }

    // A shallow copy: new references to the same objects, in the same order.
    RefArray clone() const {
        RefArray out;
        out.reserve(size_);
        for (PyObject *item : *this) out.data_[out.size_++] = Ref::borrow(item).release();
        return out;
    }

    // Releases from the back (a stack's top) down, one element at a time, so a
    // finaliser run by a release sees an array that holds only live elements.
    void clear_from_back() noexcept {
        while (size_) pop_back();
    }

    template <class Visit>
    void visit(Visit &visit) const {
        for (PyObject *item : *this) visit(item);
    }

private:
    void grow() { reserve(capacity_ ? 2 * capacity_ : 4); }
    void reserve(std::size_t capacity) {
        if (capacity <= capacity_) return;
        if (capacity > PY_SSIZE_T_MAX / sizeof(PyObject *)) throw std::bad_alloc();
        auto *grown = static_cast<PyObject **>(PyMem_Realloc(data_, capacity * sizeof(PyObject *)));
        if (!grown) throw std::bad_alloc();
        data_ = grown;
        capacity_ = capacity;
    }

    PyObject **data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Walks a RefArray by index, from the bottom or from the top. The index is
// checked against the size at every step, so even a misused cursor reads no
// slot past the end.
template <bool FromTop>
struct RefArrayCursor {
    std::size_t taken = 0;
    Ref next(const RefArray &items) noexcept {
        if (taken >= items.size()) return {};
        std::size_t i = FromTop ? items.size() - 1 - taken : taken;
        ++taken;
        return Ref::borrow(items.begin()[i]);
    }
};

}  // namespace morvena
