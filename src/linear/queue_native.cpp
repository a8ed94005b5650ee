// Queue: an unbounded FIFO of Python objects in a growable ring of slots.
// Invariant: the element at position i (0 = front) is in slot (head + i) mod
// capacity, and exactly those `length` slots hold a reference, owned by the queue;
// the other slots are raw memory and never read.
//
// The capacity is 0 or a power of two (4 at the first enqueue, doubling when
// full), so a position maps to its slot with a mask instead of a division.
// Dequeue only advances `head`: elements never move except when the ring grows,
// and the ring never shrinks, so a queue cycling at a steady size allocates
// nothing. Growth reallocates in place where the allocator can and then moves
// the shorter side of the wrap, and unused slots are not zeroed, so a growing
// queue touches little memory beyond what it stores. The slots are raw owned
// pointers for that reason; each passes through Ref on its way in and out.
#include "linear/sequence.hpp"
#include "pickle.hpp"

#include <cstring>
#include <ranges>

namespace morvena {

struct Queue {
    PyObject **slots = nullptr;
    std::uint64_t capacity = 0;
    std::uint64_t head = 0;
    std::uint64_t length = 0;

    Queue() = default;
    Queue(Queue &&other) noexcept
        : slots(std::exchange(other.slots, nullptr)),
          capacity(std::exchange(other.capacity, 0)),
          head(std::exchange(other.head, 0)),
          length(std::exchange(other.length, 0)) {}
    ~Queue() {
        clear();
        PyMem_Free(slots);
    }

    // The slot of queue position `position` (0 = front), and the elements front to back.
    PyObject *&slot(std::uint64_t position) const { return slots[(head + position) & (capacity - 1)]; }

    auto values() const {
        return std::views::iota(std::uint64_t{0}, length) |
               std::views::transform([this](std::uint64_t i) { return slot(i); });
    }

    void enqueue(Ref value) {
        if (length == capacity) grow();
        slot(length) = value.release();
        ++length;
    }

    Ref dequeue() {
        if (length == 0) throw_index_error("Queue is empty");
        Ref value = Ref::steal(slots[head]);
        head = (head + 1) & (capacity - 1);
        --length;
        return value;
    }

    Ref peek() const { return length ? Ref::borrow(slot(0)) : Ref::none(); }

    std::uint64_t size() const { return length; }

    bool is_empty() const { return length == 0; }

    bool non_empty() const { return length != 0; }

    bool contains(PyObject *value) const { return position_of(values(), value).has_value(); }

    std::optional<std::uint64_t> search(PyObject *value) const { return position_of(values(), value); }

    Ref to_list() const { return values_list(length, values()); }

    Queue copy() const {
        Queue out;
        if (length == 0) return out;
        out.reserve(capacity_for(length));
        for (std::uint64_t i = 0; i < length; ++i) out.slots[i] = Ref::borrow(slot(i)).release();
        out.length = length;
        return out;
    }

    // Keeps the capacity. The queue reads as empty before the first release,
    // and the exclusive borrow refuses any call a finaliser makes meanwhile.
    void clear() {
        std::uint64_t old_head = std::exchange(head, 0);
        std::uint64_t old_length = std::exchange(length, 0);
        for (std::uint64_t i = 0; i < old_length; ++i) Ref::steal(slots[(old_head + i) & (capacity - 1)]);  // released here
    }

    // The elements front first.
    Ref state() const { return make_tuple(to_list()); }

    static Queue from_state(const StateReader &state) {
        state.fields(1);
        List items = state.list(0, "the elements");
        Queue out;
        auto count = static_cast<std::uint64_t>(items.size());
        if (count == 0) return out;
        out.reserve(capacity_for(count));
        for (std::uint64_t i = 0; i < count; ++i) out.slots[i] = Ref::borrow(items[static_cast<Py_ssize_t>(i)]).release();
        out.length = count;
        return out;
    }
    void visit(Visitor &v) const {
        for (PyObject *item : values()) v(item);
    }
    // Front to back by position.
    struct Cursor {
        std::uint64_t position = 0;
        Ref next(const Queue &queue) noexcept {
            return position < queue.length ? Ref::borrow(queue.slot(position++)) : Ref();
        }
    };
    Cursor cursor() const { return {}; }

    void check() const {
        if (length > capacity || (capacity & (capacity - 1)) != 0 || (capacity && head >= capacity))
            throw_panic("Queue ring is inconsistent");
    }

private:
    static std::uint64_t capacity_for(std::uint64_t count) {
        std::uint64_t capacity = 4;
        while (capacity < count) capacity *= 2;
        return capacity;
    }

    // Only ever enlarges; the live slots keep their places.
    void reserve(std::uint64_t new_capacity) {
        if (new_capacity > PY_SSIZE_T_MAX / sizeof(PyObject *)) throw std::bad_alloc();
        auto *grown = static_cast<PyObject **>(PyMem_Realloc(slots, new_capacity * sizeof(PyObject *)));
        if (!grown) throw std::bad_alloc();
        slots = grown;
        capacity = new_capacity;
    }

    // Doubles a full ring. If the live range wrapped, the part past the old end
    // is [0, head) and the part before it [head, old); whichever is shorter
    // moves into the new space so the range is contiguous modulo the new size.
    void grow() {
        std::uint64_t old = capacity;
        reserve(old ? 2 * old : 4);
        if (head == 0) return;
        std::uint64_t front_part = old - head;  // slots [head, old)
        if (head <= front_part) {
            std::memcpy(slots + old, slots, head * sizeof(PyObject *));
        } else {
            std::memcpy(slots + capacity - front_part, slots + head, front_part * sizeof(PyObject *));
            head = capacity - front_part;
        }
    }
};

extern const ClassDef queue_class = PyClass<Queue>("Queue")
                                        .method<&Queue::enqueue>("enqueue", {"value"})
                                        .method<&Queue::dequeue>("dequeue")
                                        .method<&Queue::peek>("peek")
                                        .method<&Queue::size>("size")
                                        .method<&Queue::is_empty>("is_empty")
                                        .method<&Queue::contains>("contains", {"value"})
                                        .method<&Queue::search>("search", {"value"})
                                        .method<&Queue::to_list>("to_list")
                                        .method<&Queue::copy>("copy")
                                        .method<&Queue::clear>("clear")
                                        .method<&Queue::copy>("__copy__")
                                        .len<&Queue::size>()
                                        .truth<&Queue::non_empty>()
                                        .contains<&Queue::contains>()
                                        .repr<&Queue::to_list>()
                                        .pickle<&Queue::state, &Queue::from_state>()
                                        .gc<&Queue::visit>()
                                        .iter<&Queue::cursor>();

}  // namespace morvena
