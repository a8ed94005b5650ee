// The fixed ring of slots that CircularBuffer and RingBuffer share: elements are
// addressed by logical position, 0 being the oldest. Invariant: count <= capacity,
// position i lives in slot (head + i) mod capacity, and exactly the occupied slots
// hold a reference.
//
// Layout: one contiguous array of capacity slots, allocated once and never resized.
// The tail is not stored: it is always (head + count) mod capacity. A vacant slot is
// an empty Ref rather than a reference to None, so a dequeued element is released at
// once (as collections.deque does) instead of living on until its slot is reused.
//
// The two classes are distinct instantiations of Ring, told apart by a tag, so each
// gets its own type object while the shared methods are written once. What differs
// (full and empty rings, extend, the error for a bad position) is declared here and
// specialised in each class's own file.
#pragma once

#include "elements.hpp"
#include "pickle.hpp"

#include <vector>

namespace morvena {

template <class Tag>
struct Ring {
    std::vector<Ref> slots;
    std::uint64_t head = 0;
    std::uint64_t count = 0;

    explicit Ring(std::uint64_t capacity) : slots(make_slots(capacity)) {}

    // The rules of each buffer, specialised in its class file.
    void enqueue(Ref value);
    Ref dequeue();
    void extend(PyObject *iterable);
    [[noreturn]] static void index_out_of_bounds();

    Ref peek() const { return count ? slots[head].clone() : Ref::none(); }
    std::uint64_t size() const { return count; }
    std::uint64_t capacity() const { return slots.size(); }
    bool is_empty() const { return count == 0; }
    bool is_full() const { return count == slots.size(); }

    bool contains(PyObject *value) const { return search(value).has_value(); }

    // Oldest first; a comparison that raises counts as unequal and the scan goes on.
    // The shared borrow keeps the ring unchanged while an element's __eq__ runs.
    std::optional<std::uint64_t> search(PyObject *value) const {
        for (std::uint64_t position = 0; position < count; ++position)
            if (equals_or_false(at(position).get(), value)) return position;
        return std::nullopt;
    }

    void update(std::uint64_t index, Ref value) {
        if (index >= count) index_out_of_bounds();
        at(index) = std::move(value);  // stores the new reference before dropping the old
    }

    Ref getitem(std::uint64_t index) const {
        if (index >= count) index_out_of_bounds();
        return at(index).clone();
    }

    Ref to_list() const {
        ListBuilder list(count);
        for (std::uint64_t position = 0; position < count; ++position) list.push(at(position).clone());
        return std::move(list).finish();
    }

    // The copy starts at slot 0: only the logical order is kept.
    Ring copy() const {
        Ring out(capacity());
        for (std::uint64_t position = 0; position < count; ++position) out.slots[position] = at(position).clone();
        out.count = count;
        return out;
    }

    void clear() {
        // Empty the ring first, then release: a finaliser run by a release finds
        // a consistent, empty buffer.
        std::uint64_t old_head = std::exchange(head, 0);
        std::uint64_t old_count = std::exchange(count, 0);
        for (std::uint64_t position = 0; position < old_count; ++position) slots[slot_of(old_head + position)] = Ref();
    }

    // The state sets the capacity: the constructor need allocate no slots.
    Ref init_args() const { return make_tuple(to_python(std::uint64_t{0})); }

    // The capacity and the elements oldest first; like copy, only the logical
    // order is kept, the restored ring starting at slot 0.
    Ref state() const { return make_tuple(to_python(capacity()), to_list()); }

    static Ring from_state(const StateReader &state) {
        state.fields(2);
        std::uint64_t capacity = state.u64(0, "the capacity");
        List items = state.list(1, "the elements");
        if (static_cast<std::uint64_t>(items.size()) > capacity) state.invalid("more elements than the capacity");
        Ring out(capacity);
        for (Py_ssize_t i = 0; i < items.size(); ++i) out.push(Ref::borrow(items[i]));
        return out;
    }
    void visit(Visitor &v) const {
        for (const Ref &slot : slots) v(slot);  // vacant slots are empty and skipped
    }
    // Oldest first by logical position.
    struct Cursor {
        std::uint64_t position = 0;
        Ref next(const Ring &ring) noexcept { return position < ring.count ? ring.at(position++).clone() : Ref(); }
    };
    Cursor cursor() const { return {}; }

    void check() const {
        std::uint64_t cap = capacity();
        if (count > cap || (cap ? head >= cap : head != 0)) throw_panic("ring head or count out of range");
        for (std::uint64_t slot = 0; slot < cap; ++slot) {
            bool occupied = (slot + cap - head) % cap < count;
            if (static_cast<bool>(slots[slot]) != occupied) throw_panic("ring slot occupancy disagrees with count");
        }
    }

protected:
    static std::vector<Ref> make_slots(std::uint64_t capacity) {
        // A size no array can have is a MemoryError, like any other failed allocation.
        if (capacity > std::vector<Ref>().max_size()) throw std::bad_alloc();
        return std::vector<Ref>(capacity);
    }

    // head + position < 2 * capacity always holds, so one subtraction replaces a modulo.
    std::uint64_t slot_of(std::uint64_t slot) const { return slot >= slots.size() ? slot - slots.size() : slot; }
    Ref &at(std::uint64_t position) { return slots[slot_of(head + position)]; }
    const Ref &at(std::uint64_t position) const { return slots[slot_of(head + position)]; }

    // Stores at the tail; the caller has made sure a slot is free.
    void push(Ref value) {
        at(count) = std::move(value);
        ++count;
    }

    // Takes the oldest element out, leaving its slot vacant; the ring is not empty.
    Ref pop() {
        Ref value = std::move(slots[head]);
        head = slot_of(head + 1);
        --count;
        return value;
    }
};

// Both buffers publish the same methods in the same order; only the class name and
// the spelling of the to_list alias differ.
template <class Tag>
PyClass<Ring<Tag>> ring_class(const char *name, const char *subarray_name) {
    using R = Ring<Tag>;
    return PyClass<R>(name)
        .template init<std::uint64_t>({"size"})
        .template method<&R::enqueue>("enqueue", {"value"})
        .template method<&R::dequeue>("dequeue")
        .template method<&R::peek>("peek")
        .template method<&R::size>("size")
        .template method<&R::capacity>("capacity")
        .template method<&R::is_empty>("is_empty")
        .template method<&R::is_full>("is_full")
        .template method<&R::contains>("contains", {"value"})
        .template method<&R::search>("search", {"value"})
        .template method<&R::extend>("extend", {"iterable"})
        .template method<&R::update>("update", {"index", "value"})
        .template method<&R::to_list>("to_list")
        .template method<&R::to_list>(subarray_name)
        .template method<&R::copy>("copy")
        .template method<&R::copy>("__copy__")
        .template method<&R::clear>("clear")
        .template len<&R::size>()
        .template truth<&R::size>()
        .template contains<&R::contains>()
        .template getitem<&R::getitem>("index")
        .template repr<&R::to_list>()
        .template pickle<&R::state, &R::from_state>()
        .template gc<&R::visit>()
        .template iter<&R::cursor>();
}

}  // namespace morvena
