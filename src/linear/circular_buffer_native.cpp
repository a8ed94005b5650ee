// CircularBuffer: the refusing ring. A full buffer rejects enqueue, an empty one
// rejects dequeue and extend is all-or-nothing, so every failed call leaves the
// buffer exactly as it was.
#include "ring.hpp"

#include <string>

namespace morvena {

struct CircularTag {};
using CircularBuffer = Ring<CircularTag>;

template <>
void CircularBuffer::index_out_of_bounds() {
    throw_value_error("Index out of bounds");
}

template <>
void CircularBuffer::enqueue(Ref value) {
    if (is_full()) throw_value_error("Circular Buffer is currently full!");
    push(std::move(value));
}

template <>
Ref CircularBuffer::dequeue() {
    if (is_empty()) throw_value_error("Circular Buffer is currently empty!");
    return pop();
}

namespace {

[[noreturn, gnu::cold, gnu::noinline]] void throw_no_space(std::uint64_t needed, std::uint64_t available) {
    throw_value_error("Not enough space available in Circular Buffer - Needed slots: " + std::to_string(needed) +
                      ", available slots: " + std::to_string(available));
}

}  // namespace

template <>
void CircularBuffer::extend(PyObject *iterable) {
    // The exclusive borrow keeps `available` true while the iterator runs.
    std::uint64_t available = capacity() - count;
    // Reading an exact list or tuple runs no Python code and cannot fail, so its
    // length decides at once and its items go straight into the ring.
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) {
        auto needed = static_cast<std::uint64_t>(PySequence_Fast_GET_SIZE(iterable));
        if (needed > available) throw_no_space(needed, available);
        for_each_item(iterable, [&](PyObject *item) { push(Ref::borrow(item)); });
        return;
    }
    // Any other iterable is consumed before the space check, so an iteration error
    // takes precedence and the message can report the full count. Items past the
    // free space are only counted: they could never be stored, and holding them
    // would let a long iterable cost far more memory than the buffer itself.
    std::uint64_t needed = 0;
    std::vector<Ref> items;
    for_each_item(iterable, [&](PyObject *item) {
        if (needed++ < available) items.push_back(Ref::borrow(item));
    });
    if (needed > available) throw_no_space(needed, available);
    for (Ref &item : items) push(std::move(item));
}

extern const ClassDef circular_buffer_class = ring_class<CircularTag>("CircularBuffer", "subarray");

}  // namespace morvena
