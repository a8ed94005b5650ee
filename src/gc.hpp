// Cyclic garbage collection for the classes that hold Python references. A
// class names what it holds with `void visit(Visitor &) const`; the frame turns
// that into tp_traverse, clears through the class's own `clear`, and frees its
// instances with a bounded native stack however deeply they nest. Invariant: visit reports exactly the
// references the state owns, in every state an allocation can observe.
#pragma once

#include "instance.hpp"

#include <new>
#include <vector>

namespace morvena {

// Hands each owned reference to the collector's visitproc. A null reference
// (a vacant slot, a hole a sift is moving) is skipped, and once the collector
// asks to stop, the rest of the walk does nothing.
class Visitor {
public:
    Visitor(visitproc visit, void *arg) noexcept : visit_(visit), arg_(arg) {}
    void operator()(PyObject *obj) noexcept {
        if (obj && result_ == 0) result_ = visit_(obj, arg_);
    }
    void operator()(const Ref &ref) noexcept { (*this)(ref.get()); }
    int result() const noexcept { return result_; }

private:
    visitproc visit_;
    void *arg_;
    int result_ = 0;
};

template <class T, auto Visit>
int slot_traverse(PyObject *self, visitproc visit, void *arg) noexcept {
    // Instances of heap types own a reference to their type.
    Py_VISIT(Py_TYPE(self));
    Visitor visitor(visit, arg);
    (instance_of<T>(self)->state.*Visit)(visitor);
    return visitor.result();
}

// Breaks a cycle through the class's own clear, which detaches its contents
// before it releases them. The exclusive borrow refuses any call a finaliser
// makes meanwhile, and live iterators see the structure as changed. A clear
// that fails (an empty graph refuses to clear) leaves nothing to release.
template <class T>
int slot_clear(PyObject *self) noexcept {
    Instance<T> &inst = *instance_of<T>(self);
    // An operation in flight holds pointers into the state; the collector never
    // clears an object a running call still refers to, but nothing is assumed.
    if (inst.borrow != 0) return 0;
    ++inst.mutations;
    inst.borrow = -1;
    try {
        inst.state.clear();
    } catch (...) {
        if (PyErr_Occurred()) PyErr_WriteUnraisable(self);
    }
    inst.borrow = 0;
    return 0;
}

// Freeing a structure releases its elements, which may free structures nested
// in them, and so on down: a million nested instances would recurse a million
// deep. The interpreter's trashcan bounds that at 50 levels up to 3.12, but from
// 3.13 it lets the nesting run to its C recursion limit (some 10,000 frames),
// too deep for a small thread stack with frames the size of ours. So the frame
// keeps its own bound, on every version: past `max_depth` nested deallocations
// an instance is parked, and the outermost deallocation frees the parked ones
// in a loop (each of which may park more).
namespace dealloc_queue {
inline constexpr int max_depth = 50;
struct Parked {
    PyObject *object;
    void (*destroy)(PyObject *) noexcept;
};
inline thread_local int depth = 0;
inline thread_local std::vector<Parked> parked;
}  // namespace dealloc_queue

template <class T>
void destroy_collected(PyObject *self) noexcept {
    PyTypeObject *type = Py_TYPE(self);
    instance_of<T>(self)->state.~T();
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

// Untracked first, so a collection run by a finaliser during the release never
// sees a half-destroyed state.
template <class T>
void slot_dealloc_collected(PyObject *self) noexcept {
    namespace q = dealloc_queue;
    PyObject_GC_UnTrack(self);
    if (q::depth >= q::max_depth) {
        try {
            q::parked.push_back({self, &destroy_collected<T>});
            return;
        } catch (const std::bad_alloc &) {
            // No room to park it: free it here, one level deeper.
        }
    }
    ++q::depth;
    destroy_collected<T>(self);
    if (q::depth == 1) {
        while (!q::parked.empty()) {
            q::Parked next = q::parked.back();
            q::parked.pop_back();
            next.destroy(next.object);
        }
    }
    --q::depth;
}

}  // namespace morvena
