// RingBuffer: the overwriting ring. Enqueue on a full ring replaces the oldest
// element, an empty ring reads as None, and extend enqueues each item as the
// iterator yields it (items taken before an iteration error stay).
#include "ring.hpp"

namespace morvena {

struct OverwriteTag {};
using RingBuffer = Ring<OverwriteTag>;

template <>
void RingBuffer::index_out_of_bounds() {
    throw_index_error("Index out of bounds");
}

template <>
void RingBuffer::enqueue(Ref value) {
    if (!is_full()) return push(std::move(value));
    // A ring without slots drops the item, as deque(maxlen=0) does.
    if (slots.empty()) return;
    // The tail is the head of a full ring: the new element takes the oldest one's
    // slot, and the old reference is released only once the ring is consistent.
    Ref oldest = std::exchange(slots[head], std::move(value));
    head = slot_of(head + 1);
}

template <>
Ref RingBuffer::dequeue() {
    return is_empty() ? Ref::none() : pop();
}

template <>
void RingBuffer::extend(PyObject *iterable) {
    for_each_item(iterable, [&](PyObject *item) { enqueue(Ref::borrow(item)); });
}

extern const ClassDef ring_buffer_class = ring_class<OverwriteTag>("RingBuffer", "subarry");

}  // namespace morvena
