// Owned Python references. A Ref holds exactly one strong reference and drops it
// when it dies; a plain PyObject * is always borrowed. Nothing outside the frame
// headers touches reference counts directly.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <utility>

namespace morvena {

class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    Ref(Ref &&other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    Ref &operator=(Ref &&other) noexcept {
        // Swap first, release second: the old object's finaliser may run
        // Python code, and by then this Ref already holds its new value.
        PyObject *old = std::exchange(obj_, std::exchange(other.obj_, nullptr));
        Py_XDECREF(old);
        return *this;
    }
    ~Ref() { Py_XDECREF(obj_); }

    // Takes over a reference the caller already owns (a new reference).
    static Ref steal(PyObject *obj) noexcept { return Ref(obj); }
    // Takes a new reference to a borrowed object.
    static Ref borrow(PyObject *obj) noexcept {
        Py_XINCREF(obj);
        return Ref(obj);
    }
    static Ref none() noexcept { return borrow(Py_None); }

    Ref clone() const noexcept { return borrow(obj_); }
    PyObject *get() const noexcept { return obj_; }
    // Hands the reference to the caller (a C API slot that returns a new reference).
    [[nodiscard]] PyObject *release() noexcept { return std::exchange(obj_, nullptr); }
    explicit operator bool() const noexcept { return obj_ != nullptr; }

private:
    explicit Ref(PyObject *obj) noexcept : obj_(obj) {}
    PyObject *obj_ = nullptr;
};

// Nodes of linked structures come from the interpreter's small-object allocator:
// it is faster than malloc for the small fixed sizes nodes have, and the GIL is
// always held when a node is made or freed.
struct PyAllocated {
    static void *operator new(std::size_t size) {
        if (void *p = PyObject_Malloc(size)) return p;
        throw std::bad_alloc();
    }
    static void operator delete(void *p) noexcept { PyObject_Free(p); }
};

}  // namespace morvena
