// The out-of-line half of key conversion: objects that are not exact str, int,
// bool or float go through the whole chain, each failed step's error discarded.
#include "hashing/native_key.hpp"

namespace morvena {

void throw_unsupported_key() { throw_value_error("Unsupported data type for Rust conversion"); }

NativeKey to_native_key_slow(PyObject *obj) {
    if (PyObject *index = PyNumber_Index(obj)) {
        Ref owned = Ref::steal(index);
        long value = PyLong_AsLong(index);
        if (!(value == -1 && PyErr_Occurred())) return {NativeKey::Kind::Int, static_cast<std::uint64_t>(value), {}};
    }
    discard_python_error();
    double number = PyFloat_AsDouble(obj);
    if (!(number == -1.0 && PyErr_Occurred())) return {NativeKey::Kind::Float, std::bit_cast<std::uint64_t>(number), {}};
    discard_python_error();
    if (PyUnicode_Check(obj)) {
        Py_ssize_t size = 0;
        if (const char *data = PyUnicode_AsUTF8AndSize(obj, &size))
            return {NativeKey::Kind::Str, 0, {data, static_cast<std::size_t>(size)}};
        discard_python_error();
    }
    // Every bool was taken as an Int above; the Bool kind exists for the hash
    // only, so nothing is left to try.
    throw_unsupported_key();
}

}  // namespace morvena
