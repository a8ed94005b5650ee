// Iteration for the element-holding classes. A class says how it walks with
// `cursor() const`, returning a small value whose `Ref next(const T &)` yields
// the next item or an empty Ref at the end; the frame wraps it in an iterator
// object. Invariant: a cursor is only ever used on the state it was made from,
// unchanged since: every step first compares the instance's mutation counter
// with the one seen by iter(), so a pointer a cursor keeps is never stale.
//
// The iterator holds a strong reference to its structure (keeping it alive) and
// no borrow between steps. A matching counter also means no exclusive call is
// under way (each bumps it on entry, and iter() is refused during one). Once it ends, by exhaustion or by finding the
// structure changed, the iterator drops the structure and stays exhausted.
#pragma once

#include "instance.hpp"

#include <cstring>
#include <string>

namespace morvena {

template <class T, class Cursor>
struct IteratorObject {
    PyObject_HEAD
    union {
        Ref owner;  // null once the iteration has ended
    };
    std::uint64_t expected;  // the owner's mutation counter when iter() was called
    union {
        Cursor cursor;
    };
};

template <class T, class Cursor>
inline PyTypeObject *iterator_type_cache = nullptr;

[[noreturn, gnu::cold, gnu::noinline]] inline void throw_mutated(const char *class_name) {
    throw_error(PyExc_RuntimeError, std::string(class_name) + " mutated during iteration");
}

// Ends the iteration: the structure is dropped (which may free it and run
// finalisers) only once the iterator reads as ended.
template <class T, class Cursor>
[[gnu::noinline]] PyObject *end_iteration(IteratorObject<T, Cursor> *it, bool mutated) noexcept {
    Ref finished = std::move(it->owner);
    finished = nullptr;
    if (mutated) {
        try {
            throw_mutated(class_name_of<T>);
        } catch (...) {
            raise_current_exception();
        }
    }
    return nullptr;
}

// A cursor whose next() is noexcept promises to run no Python code (it only
// reads the state and takes references), so nothing can change the state
// during the step and the borrow is not taken; any other step holds the shared
// borrow, as an allocation it makes may collect and run finalisers.
template <class T, class Cursor>
PyObject *iterator_next(PyObject *self) noexcept {
    auto *it = reinterpret_cast<IteratorObject<T, Cursor> *>(self);
    PyObject *owner = it->owner.get();
    if (!owner) return nullptr;  // ended: StopIteration, never a value again
    Instance<T> &inst = *instance_of<T>(owner);
    if (inst.mutations != it->expected) [[unlikely]]
        return end_iteration(it, true);
    if constexpr (noexcept(it->cursor.next(inst.state))) {
        if (PyObject *item = it->cursor.next(inst.state).release()) [[likely]]
            return item;
    } else {
        try {
            SharedBorrow borrow(inst.borrow);
            if (PyObject *item = it->cursor.next(inst.state).release()) [[likely]]
                return item;
        } catch (...) {
            // A failed allocation: the iterator stays where it was.
            raise_current_exception();
            return nullptr;
        }
    }
    return end_iteration(it, false);
}

template <class T, class Cursor>
int iterator_traverse(PyObject *self, visitproc visit, void *arg) noexcept {
    auto *it = reinterpret_cast<IteratorObject<T, Cursor> *>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(it->owner.get());
    return 0;
}

template <class T, class Cursor>
int iterator_clear(PyObject *self) noexcept {
    auto *it = reinterpret_cast<IteratorObject<T, Cursor> *>(self);
    Ref dropped = std::move(it->owner);
    return 0;
}

template <class T, class Cursor>
void iterator_dealloc(PyObject *self) noexcept {
    auto *it = reinterpret_cast<IteratorObject<T, Cursor> *>(self);
    PyObject_GC_UnTrack(self);
    PyTypeObject *type = Py_TYPE(self);
    it->cursor.~Cursor();
    it->owner.~Ref();
    PyObject_GC_Del(self);
    Py_DECREF(type);
}

// Made on first use and kept for the process, like the class types; it is not
// published in the module (iter() is the only way to get one).
template <class T, class Cursor>
PyTypeObject *iterator_type() {
    PyTypeObject *&cache = iterator_type_cache<T, Cursor>;
    if (cache) return cache;
    static PyType_Slot slots[] = {
        {Py_tp_iter, reinterpret_cast<void *>(&PyObject_SelfIter)},
        {Py_tp_iternext, reinterpret_cast<void *>(&iterator_next<T, Cursor>)},
        {Py_tp_traverse, reinterpret_cast<void *>(&iterator_traverse<T, Cursor>)},
        {Py_tp_clear, reinterpret_cast<void *>(&iterator_clear<T, Cursor>)},
        {Py_tp_dealloc, reinterpret_cast<void *>(&iterator_dealloc<T, Cursor>)},
        {0, nullptr},
    };
    std::string name = std::string("builtins.") + class_name_of<T> + "Iterator";
    PyType_Spec type_spec = {strdup(name.c_str()), static_cast<int>(sizeof(IteratorObject<T, Cursor>)), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    PyObject *type = PyType_FromSpec(&type_spec);
    if (!type) throw_python_error();
    cache = reinterpret_cast<PyTypeObject *>(type);
    return cache;
}

template <class T, auto MakeCursor>
PyObject *slot_iter(PyObject *self) noexcept {
    using Cursor = decltype((std::declval<const T &>().*MakeCursor)());
    static_assert(std::is_nothrow_move_constructible_v<Cursor>, "a cursor moves into its iterator without fail");
    try {
        Instance<T> &inst = receiver<T>(self, class_name_of<T>);
        SharedBorrow borrow(inst.borrow);
        Cursor cursor = (inst.state.*MakeCursor)();
        PyTypeObject *type = iterator_type<T, Cursor>();
        using Object = IteratorObject<T, Cursor>;
        auto *it = PyObject_GC_New(Object, type);
        if (!it) throw_python_error();
        new (&it->owner) Ref(Ref::borrow(self));
        it->expected = inst.mutations;
        new (&it->cursor) Cursor(std::move(cursor));
        PyObject_GC_Track(it);
        return reinterpret_cast<PyObject *>(it);
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

}  // namespace morvena
