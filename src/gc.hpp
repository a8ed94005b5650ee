// Cyclic garbage collection for the classes that hold Python references. A
// class names what it holds with `void visit(Visitor &) const`; the frame turns
// that into tp_traverse, clears through the class's own `clear`, and frees its
// instances inside the trashcan. Invariant: visit reports exactly the
// references the state owns, in every state an allocation can observe.
#pragma once

#include "instance.hpp"

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

// Untracked first, so a collection run by a finaliser during the release never
// sees a half-destroyed state; inside the trashcan, so that freeing a million
// structures nested in each other uses a bounded native stack.
template <class T>
void slot_dealloc_collected(PyObject *self) noexcept {
    PyObject_GC_UnTrack(self);
    Py_TRASHCAN_BEGIN(self, slot_dealloc_collected<T>)
    PyTypeObject *type = Py_TYPE(self);
    instance_of<T>(self)->state.~T();
    type->tp_free(self);
    Py_DECREF(type);
    Py_TRASHCAN_END
}

}  // namespace morvena
