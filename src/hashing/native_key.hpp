// Native key values of the hash maps and their two hashes. A Python key is
// converted afresh by every operation that takes one; only its hashes are kept.
// Both hashes are fixed functions of the key's bytes, so slot positions, and
// with them the order of every listing, are the same in every process.
#pragma once

#include "elements.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace morvena {

struct NativeKey {
    enum class Kind : std::uint8_t { Int, Float, Str, Bool };
    Kind kind;
    // Int: the two's-complement value; Float: the IEEE-754 bit pattern; Bool: 0 or 1.
    std::uint64_t word = 0;
    // Str: the UTF-8 bytes. They belong to the str object (its cached UTF-8
    // form), which the caller holds for the whole operation, so nothing is copied.
    std::string_view text;
};

[[noreturn, gnu::cold, gnu::noinline]] void throw_unsupported_key();
// The full conversion chain for keys that are not one of the exact built-in types.
NativeKey to_native_key_slow(PyObject *obj);

// Integer first, then float, then str, then bool. The exact built-in types go
// straight to the kind that chain would reach, so no exception is raised and
// cleared on the common paths.
inline NativeKey to_native_key(PyObject *obj) {
    if (PyUnicode_CheckExact(obj)) {
        Py_ssize_t size = 0;
        if (const char *data = PyUnicode_AsUTF8AndSize(obj, &size))
            return {NativeKey::Kind::Str, 0, {data, static_cast<std::size_t>(size)}};
        // Lone surrogates: an exact str has no __index__ or __float__ to fall back on.
        discard_python_error();
        throw_unsupported_key();
    }
    if (PyLong_CheckExact(obj) || PyBool_Check(obj)) {
        long value = PyLong_AsLong(obj);
        if (!(value == -1 && PyErr_Occurred())) return {NativeKey::Kind::Int, static_cast<std::uint64_t>(value), {}};
        discard_python_error();
        // Past 64 bits an int is keyed by its nearest double, if it has one.
        double approx = PyLong_AsDouble(obj);
        if (approx == -1.0 && PyErr_Occurred()) {
            discard_python_error();
            throw_unsupported_key();
        }
        return {NativeKey::Kind::Float, std::bit_cast<std::uint64_t>(approx), {}};
    }
    if (PyFloat_CheckExact(obj)) return {NativeKey::Kind::Float, std::bit_cast<std::uint64_t>(PyFloat_AS_DOUBLE(obj)), {}};
    return to_native_key_slow(obj);
}

// Identity of native keys: same kind and same value (Float by bit pattern, so a
// NaN is itself and -0.0 is not 0.0). No Python code runs.
inline bool same_native_key(const NativeKey &a, const NativeKey &b) noexcept {
    if (a.kind != b.kind) return false;
    return a.kind == NativeKey::Kind::Str ? a.text == b.text : a.word == b.word;
}

namespace sip {

inline void round(std::uint64_t (&v)[4]) noexcept {
    v[0] += v[1];
    v[1] = std::rotl(v[1], 13);
    v[1] ^= v[0];
    v[0] = std::rotl(v[0], 32);
    v[2] += v[3];
    v[3] = std::rotl(v[3], 16);
    v[3] ^= v[2];
    v[0] += v[3];
    v[3] = std::rotl(v[3], 21);
    v[3] ^= v[0];
    v[2] += v[1];
    v[1] = std::rotl(v[1], 17);
    v[1] ^= v[2];
    v[2] = std::rotl(v[2], 32);
}

// SipHash-1-3 under the all-zero key: one round per block, three to finish.
struct State {
    std::uint64_t v[4] = {0x736f6d6570736575ULL, 0x646f72616e646f6dULL, 0x6c7967656e657261ULL, 0x7465646279746573ULL};

    void block(std::uint64_t m) noexcept {
        v[3] ^= m;
        round(v);
        v[0] ^= m;
    }
    // `tail` holds the last length % 8 bytes, little-endian.
    std::uint64_t finish(std::uint64_t length, std::uint64_t tail) noexcept {
        std::uint64_t b = (length << 56) | tail;
        v[3] ^= b;
        round(v);
        v[0] ^= b;
        v[2] ^= 0xff;
        round(v);
        round(v);
        round(v);
        return v[0] ^ v[1] ^ v[2] ^ v[3];
    }
};

inline std::uint64_t load_le(const char *p, std::size_t n) noexcept {
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < n; ++i) word |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return word;
}

inline std::uint64_t load_word(const char *p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

}  // namespace sip

// The message is the key's bytes: 8 for Int and Float, the UTF-8 text plus a
// terminating 0xFF for Str (a byte UTF-8 never holds, so no string's message is
// a prefix of another's), one byte for Bool. No kind tag is fed.
inline std::uint64_t key_hash(const NativeKey &key) noexcept {
    sip::State state;
    switch (key.kind) {
        case NativeKey::Kind::Int:
        case NativeKey::Kind::Float:
            state.block(key.word);
            return state.finish(8, 0);
        case NativeKey::Kind::Bool:
            return state.finish(1, key.word);
        case NativeKey::Kind::Str:
            break;
    }
    const char *p = key.text.data();
    std::size_t size = key.text.size();
    std::size_t full = size / 8;
    for (std::size_t i = 0; i < full; ++i) state.block(sip::load_word(p + 8 * i));
    std::size_t rest = size % 8;
    std::uint64_t tail = sip::load_le(p + 8 * full, rest) | (0xffULL << (8 * rest));
    if (rest == 7) {
        state.block(tail);  // the 0xFF completes a block
        tail = 0;
    }
    return state.finish(size + 1, tail);
}

inline constexpr std::uint64_t fx_seed = 0x517cc1b727220a95ULL;

inline std::uint64_t fx_add(std::uint64_t h, std::uint64_t word) noexcept { return (std::rotl(h, 5) ^ word) * fx_seed; }

// The word hash that picks a key's second-table bucket; independent of key_hash
// so that keys sharing a first bucket are spread over the second table.
inline std::uint64_t key_fx_hash(const NativeKey &key) noexcept {
    if (key.kind != NativeKey::Kind::Str) return fx_add(0, key.word);
    const char *p = key.text.data();
    std::size_t size = key.text.size();
    std::uint64_t h = 0;
    for (; size >= 8; p += 8, size -= 8) h = fx_add(h, sip::load_word(p));
    if (size >= 4) {
        h = fx_add(h, sip::load_le(p, 4));
        p += 4;
        size -= 4;
    }
    if (size >= 2) {
        h = fx_add(h, sip::load_le(p, 2));
        p += 2;
        size -= 2;
    }
    if (size >= 1) h = fx_add(h, static_cast<unsigned char>(*p));
    return fx_add(h, 0xff);
}

// A key as the maps probe with it. "Plain" keys are exact str, int and bool:
// for two of them Python equality implies equal native keys and so equal
// hashes, and identity implies equality. Comparing those needs no Python call
// unless the hashes agree and the objects differ. Any other key (a float, whose
// 1.0 equals the Int 1 under another hash; a class with its own __eq__) is
// always compared by Python equality.
struct Probe {
    PyObject *key;
    std::uint64_t hash;
    bool plain;
};

inline bool is_plain_key(PyObject *obj) noexcept {
    return PyUnicode_CheckExact(obj) || PyLong_CheckExact(obj) || PyBool_Check(obj);
}

inline Probe probe_of(PyObject *key, const NativeKey &native) noexcept {
    return {key, key_hash(native), is_plain_key(key)};
}

// Python equality (stored key on the left), skipped where its answer is known.
inline bool key_matches(PyObject *stored, std::uint64_t stored_hash, bool stored_plain, const Probe &probe) {
    if (stored_plain && probe.plain) {
        if (stored_hash != probe.hash) return false;
        if (stored == probe.key) return true;
    }
    return equals(stored, probe.key);
}

}  // namespace morvena
