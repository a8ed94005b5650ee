// The layout every class instance shares: the object header, the class's native
// state, then the borrow flag. The flag refuses re-entrant calls (user code run by
// an operation calling back into the same object); it is no thread lock, since
// every call already holds the GIL. The mutation counter only ever grows: a live
// iterator remembers it and refuses to go on once it has moved.
#pragma once

#include "errors.hpp"

#include <cstdint>
#include <type_traits>

namespace morvena {

template <class T>
struct Instance {
    PyObject_HEAD
    union {
        T state;  // constructed by tp_new, destroyed by tp_dealloc
    };
    Py_ssize_t borrow;  // 0 free, n > 0 shared borrows, -1 exclusive
    // Bumped by every call that takes the exclusive borrow, failed ones included
    // (deciding whether a call changed anything would cost every mutator a
    // comparison), and by the collector's clear.
    std::uint64_t mutations;
};

// One type object per class, created once when the module registers it.
template <class T>
inline PyTypeObject *class_type = nullptr;
// The class's Python name, for the receiver and argument type checks.
template <class T>
inline const char *class_name_of = nullptr;

template <class T>
Instance<T> *instance_of(PyObject *obj) noexcept {
    return reinterpret_cast<Instance<T> *>(obj);
}

// Receiver check shared by every method and slot.
template <class T>
Instance<T> &receiver(PyObject *self, const char *class_name) {
    PyTypeObject *type = class_type<T>;
    if (Py_TYPE(self) != type && !PyType_IsSubtype(Py_TYPE(self), type))
        throw_downcast_error(self, class_name);
    return *instance_of<T>(self);
}

class SharedBorrow {
public:
    explicit SharedBorrow(Py_ssize_t &flag) : flag_(flag) {
        if (flag_ == -1) throw_error(PyExc_RuntimeError, "Already mutably borrowed");
        ++flag_;
    }
    ~SharedBorrow() { --flag_; }
    SharedBorrow(const SharedBorrow &) = delete;
    SharedBorrow &operator=(const SharedBorrow &) = delete;

private:
    Py_ssize_t &flag_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(Py_ssize_t &flag) : flag_(flag) {
        if (flag_ != 0) throw_error(PyExc_RuntimeError, "Already borrowed");
        flag_ = -1;
    }
    ~ExclusiveBorrow() { flag_ = 0; }
    ExclusiveBorrow(const ExclusiveBorrow &) = delete;
    ExclusiveBorrow &operator=(const ExclusiveBorrow &) = delete;

private:
    Py_ssize_t &flag_;
};

template <bool Shared>
using Borrow = std::conditional_t<Shared, SharedBorrow, ExclusiveBorrow>;

// tp_alloc hands out a collectable object already tracked, but its state is not
// built yet: a collection run by an allocation during construction must not
// traverse it. It is tracked again once the state exists.
inline void untrack_while_built(PyObject *obj) noexcept {
    if (PyObject_IS_GC(obj)) PyObject_GC_UnTrack(obj);
}
inline void track_when_built(PyObject *obj) noexcept {
    if (PyObject_IS_GC(obj)) PyObject_GC_Track(obj);
}

// A new Python instance holding `state`: how copies and other structures built
// by an operation reach Python.
template <class T>
Ref wrap(T &&state) {
    static_assert(std::is_nothrow_move_constructible_v<T>,
                  "a half-moved state could not be torn down safely");
    PyTypeObject *type = class_type<T>;
    if (!type) throw_panic("class used before its type object was created");
    PyObject *obj = type->tp_alloc(type, 0);
    if (!obj) throw_python_error();
    untrack_while_built(obj);
    new (&instance_of<T>(obj)->state) T(std::move(state));
    instance_of<T>(obj)->borrow = 0;
    instance_of<T>(obj)->mutations = 0;
    track_when_built(obj);
    return Ref::steal(obj);
}

}  // namespace morvena
