// Failures are C++ exceptions, caught once at the frame boundary:
//   PyError  - a Python exception is already set (a C API call or user code failed);
//   Error    - an operation's error value: an exception type and its message,
//              turned into a Python exception only when it reaches the boundary;
//   Panic    - an internal abort, raised to Python as PanicException.
// The success path pays nothing; every message is built out of line, on failure.
#pragma once

#include "ref.hpp"

#include <string>
#include <string_view>

namespace morvena {

struct PyError {};

struct Error {
    PyObject *type;
    std::string message;
};

struct Panic {
    std::string message;
};

[[noreturn, gnu::cold, gnu::noinline]] void throw_error(PyObject *type, std::string_view message);
[[noreturn, gnu::cold, gnu::noinline]] inline void throw_value_error(std::string_view message) {
    throw_error(PyExc_ValueError, message);
}
[[noreturn, gnu::cold, gnu::noinline]] inline void throw_index_error(std::string_view message) {
    throw_error(PyExc_IndexError, message);
}
[[noreturn, gnu::cold, gnu::noinline]] inline void throw_type_error(std::string_view message) {
    throw_error(PyExc_TypeError, message);
}
[[noreturn, gnu::cold, gnu::noinline]] inline void throw_panic(std::string_view message) {
    throw Panic{std::string(message)};
}

// Called right after a C API call reported failure. A PanicException coming back
// out of user code is never swallowed: it is printed and re-raised as our own
// abort. A failure without an exception set becomes the interpreter's
// SystemError, as the C API would report it.
[[noreturn, gnu::cold, gnu::noinline]] void throw_python_error();

// Takes ownership of a new reference returned by the C API; NULL means failure.
inline Ref checked(PyObject *result) {
    if (!result) throw_python_error();
    return Ref::steal(result);
}

// Clears the pending Python exception on the paths that discard a failed
// comparison. Aborts are never discarded.
void discard_python_error();

// The lazily created PanicException type (derives from BaseException).
PyObject *panic_exception_type();

// The boundary: converts the exception in flight into the pending Python
// exception. Call it only from a catch (...) block.
void raise_current_exception() noexcept;

// "'{qualname}' object cannot be converted to '{target}'", the one downcast
// message of the frame.
[[noreturn, gnu::cold, gnu::noinline]] void throw_downcast_error(PyObject *obj, std::string_view target);

}  // namespace morvena
