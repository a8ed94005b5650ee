// PriorityQueue: a binary heap in one array of (value, priority) entries, the
// children of i at 2i+1 and 2i+2. Invariant: no entry comes before its parent
// (a smaller priority in a min-heap, a larger one in a max-heap).
//
// Only the native int32 priorities are ever compared, so no Python code runs
// while the heap is being reordered. Sifts move a hole instead of swapping, and
// each is instantiated per heap kind so the inner loop has no kind test.
#include "elements.hpp"
#include "pickle.hpp"

#include <vector>

namespace morvena {

namespace {

struct HeapEntry {
    Ref value;
    std::int32_t priority;
};

template <bool is_max>
bool before(std::int32_t a, std::int32_t b) noexcept {
    return is_max ? a > b : a < b;
}

template <bool is_max>
void sift_up(std::vector<HeapEntry> &heap, std::size_t i) noexcept {
    if (i == 0) return;
    HeapEntry moving = std::move(heap[i]);
    while (i > 0) {
        std::size_t parent = (i - 1) / 2;
        // Equal priorities stop the climb: an entry never overtakes its equal.
        if (!before<is_max>(moving.priority, heap[parent].priority)) break;
        heap[i] = std::move(heap[parent]);
        i = parent;
    }
    heap[i] = std::move(moving);
}

template <bool is_max>
void sift_down(std::vector<HeapEntry> &heap, std::size_t i) noexcept {
    std::size_t size = heap.size();
    if (i >= size) return;
    HeapEntry moving = std::move(heap[i]);
    for (;;) {
        std::size_t best = i;
        std::int32_t best_priority = moving.priority;
        std::size_t left = 2 * i + 1;
        // Ties keep the parent in place and prefer the left child.
        if (left < size && before<is_max>(heap[left].priority, best_priority)) {
            best = left;
            best_priority = heap[left].priority;
        }
        if (left + 1 < size && before<is_max>(heap[left + 1].priority, best_priority)) best = left + 1;
        if (best == i) break;
        heap[i] = std::move(heap[best]);
        i = best;
    }
    heap[i] = std::move(moving);
}

Ref entry_result(HeapEntry &&entry, bool with_priority) {
    if (!with_priority) return std::move(entry.value);
    return to_python(std::tuple<Ref, std::int32_t>(std::move(entry.value), entry.priority));
}

bool is_max_type(std::string_view text) {
    // Python's own lower() gives the full Unicode lowercasing.
    Ref name = to_python(text);
    Ref lowered = checked(PyObject_CallMethod(name.get(), "lower", nullptr));
    if (PyUnicode_CompareWithASCIIString(lowered.get(), "max") == 0) return true;
    if (PyUnicode_CompareWithASCIIString(lowered.get(), "min") == 0) return false;
    throw_value_error("Priority Type must be 'min' or 'max'");
}

}  // namespace

struct PriorityQueue {
    std::vector<HeapEntry> heap;
    bool is_max;

    explicit PriorityQueue(std::string_view priority_type) : is_max(is_max_type(priority_type)) {}
    PriorityQueue(std::vector<HeapEntry> entries, bool max) noexcept : heap(std::move(entries)), is_max(max) {}

    void enqueue(Ref value, std::int32_t priority) {
        heap.push_back({std::move(value), priority});
        up(heap.size() - 1);
    }

    Ref dequeue() {
        if (heap.empty()) throw_value_error("No elements currently stored in Priority queue");
        return take(0).value;
    }

    Ref peek(std::optional<bool> return_priority) const {
        if (heap.empty()) throw_value_error("No element in the Queue to return");
        const HeapEntry &top = heap.front();
        return entry_result({top.value.clone(), top.priority}, return_priority.value_or(false));
    }

    bool is_empty() const { return heap.empty(); }
    std::uint64_t size() const { return heap.size(); }
    bool is_min_heap() const { return !is_max; }
    bool is_max_heap() const { return is_max; }
    bool has_entries() const { return !heap.empty(); }

    // The stored value is on the left of ==, and one that raises counts as unequal.
    bool contains(PyObject *value) const { return index_of(value) < heap.size(); }

    void update_priority(std::uint64_t index, std::int32_t priority) {
        check_index(index);
        heap[index].priority = priority;
        up(index);
        down(index);
    }

    std::uint64_t search(PyObject *value) const {
        if (heap.empty()) throw_value_error("No elements available in Queue");
        std::size_t index = index_of(value);
        if (index == heap.size()) throw_value_error("No entry with value " + element_text(value) + " found in Queue");
        return index;
    }

    Ref remove(std::uint64_t index, std::optional<bool> return_priority) {
        if (heap.empty()) throw_value_error("No elements currently available in Queue");
        check_index(index);
        return entry_result(take(index), return_priority.value_or(false));
    }

    void extend(List items) {
        // A priority's __index__ may run code that changes the caller's list:
        // the length is re-read and the item held while it is converted.
        for (Py_ssize_t i = 0; i < items.size(); ++i) {
            Ref item = Ref::borrow(items[i]);
            auto [value, priority] = from_python<std::tuple<Ref, std::int32_t>>(item.get());
            enqueue(std::move(value), priority);
        }
    }

    Ref to_list() const {
        ListBuilder list(heap.size());
        for (const HeapEntry &entry : heap) list.push(entry_result({entry.value.clone(), entry.priority}, true));
        return std::move(list).finish();
    }

    PriorityQueue copy() const {
        std::vector<HeapEntry> entries;
        entries.reserve(heap.size());
        for (const HeapEntry &entry : heap) entries.push_back({entry.value.clone(), entry.priority});
        return PriorityQueue(std::move(entries), is_max);
    }

    void clear() {
        // Detach first: releasing the values may run finalisers.
        auto old = std::exchange(heap, {});
    }

    void visit(Visitor &v) const {
        for (const HeapEntry &entry : heap) v(entry.value);  // a sift's hole is empty and skipped
    }
    // Heap order with priorities, as to_list gives them.
    struct Cursor {
        std::size_t index = 0;
        Ref next(const PriorityQueue &queue) {
            if (index >= queue.heap.size()) return {};
            const HeapEntry &entry = queue.heap[index++];
            return entry_result({entry.value.clone(), entry.priority}, true);
        }
    };
    Cursor cursor() const { return {}; }

    void heapify_up(std::uint64_t index) {
        // Index 0 is the top and has nowhere to go, even in an empty queue.
        if (index == 0) return;
        check_index(index);
        up(index);
    }

    void heapify_down(std::optional<std::uint64_t> index) { down(index.value_or(0)); }

    Ref init_args() const { return make_tuple(to_python(std::string_view(is_max ? "max" : "min"))); }

    // The kind and the (value, priority) entries in heap order, which is kept
    // exactly: it decides which of equal priorities comes out first.
    Ref state() const { return make_tuple(to_python(is_max), to_list()); }

    static PriorityQueue from_state(const StateReader &state) {
        state.fields(2);
        bool max = state.flag(0, "the max-heap flag");
        List items = state.list(1, "the entries");
        std::vector<HeapEntry> entries;
        entries.reserve(static_cast<std::size_t>(items.size()));
        for (Py_ssize_t i = 0; i < items.size(); ++i) {
            PyObject *entry = state.tuple(items[i], 2, "an entry");
            std::int32_t priority = state.i32_of(PyTuple_GET_ITEM(entry, 1), "a priority");
            entries.push_back({Ref::borrow(PyTuple_GET_ITEM(entry, 0)), priority});
        }
        for (std::size_t i = 1; i < entries.size(); ++i)
            if (max ? before<true>(entries[i].priority, entries[(i - 1) / 2].priority)
                    : before<false>(entries[i].priority, entries[(i - 1) / 2].priority))
                state.invalid("the entries are not in heap order");
        return PriorityQueue(std::move(entries), max);
    }

    void check() const {
        for (std::size_t i = 1; i < heap.size(); ++i)
            if (is_max ? before<true>(heap[i].priority, heap[(i - 1) / 2].priority)
                       : before<false>(heap[i].priority, heap[(i - 1) / 2].priority))
                throw_panic("heap entry comes before its parent");
    }

private:
    void up(std::size_t i) noexcept { is_max ? sift_up<true>(heap, i) : sift_up<false>(heap, i); }
    void down(std::size_t i) noexcept { is_max ? sift_down<true>(heap, i) : sift_down<false>(heap, i); }

    void check_index(std::uint64_t index) const {
        if (index >= heap.size()) throw_value_error("Index out of bounds");
    }

    std::size_t index_of(PyObject *value) const {
        for (std::size_t i = 0; i < heap.size(); ++i)
            if (equals_or_false(heap[i].value.get(), value)) return i;
        return heap.size();
    }

    // Takes the entry at `index` out; the last entry fills the hole and is
    // sifted whichever way the heap order needs.
    HeapEntry take(std::size_t index) {
        HeapEntry last = std::move(heap.back());
        heap.pop_back();
        if (index == heap.size()) return last;
        HeapEntry removed = std::exchange(heap[index], std::move(last));
        up(index);
        down(index);
        return removed;
    }
};

extern const ClassDef priority_queue_class = PyClass<PriorityQueue>("PriorityQueue")
                                                 .init<std::string_view>({"priority_type"})
                                                 .method<&PriorityQueue::enqueue>("enqueue", {"value", "priority"})
                                                 .method<&PriorityQueue::dequeue>("dequeue")
                                                 .method<&PriorityQueue::peek>("peek", {"return_priority"})
                                                 .method<&PriorityQueue::is_empty>("is_empty")
                                                 .method<&PriorityQueue::size>("size")
                                                 .method<&PriorityQueue::is_min_heap>("is_min_heap")
                                                 .method<&PriorityQueue::is_max_heap>("is_max_heap")
                                                 .method<&PriorityQueue::contains>("contains", {"value"})
                                                 .method<&PriorityQueue::update_priority>("update_priority",
                                                                                          {"index", "priority"})
                                                 .method<&PriorityQueue::search>("search", {"value"})
                                                 .method<&PriorityQueue::remove>("remove", {"index", "return_priority"})
                                                 .method<&PriorityQueue::extend>("extend", {"iterable"})
                                                 .method<&PriorityQueue::to_list>("to_list")
                                                 .method<&PriorityQueue::copy>("copy")
                                                 .method<&PriorityQueue::copy>("__copy__")
                                                 .method<&PriorityQueue::clear>("clear")
                                                 .method<&PriorityQueue::heapify_up>("heapify_up", {"index"})
                                                 .method<&PriorityQueue::heapify_down>("heapify_down", {"index"})
                                                 .len<&PriorityQueue::size>()
                                                 .truth<&PriorityQueue::has_entries>()
                                                 .contains<&PriorityQueue::contains>()
                                                 .repr<&PriorityQueue::to_list>()
                                                 .pickle<&PriorityQueue::state, &PriorityQueue::from_state>()
                                                 .gc<&PriorityQueue::visit>()
                                                 .iter<&PriorityQueue::cursor>();

}  // namespace morvena
