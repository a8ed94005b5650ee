// NodePool: the node storage of one linked structure, carved from chunks it owns.
// Invariant: every node handed out by take() and not yet given back lies in one
// of the pool's chunks; a node given back is reused before any fresh one.
//
// A node allocated on its own costs an allocator call to make and another to
// free, and 32 bytes for a 24-byte node: on an append that is most of the work
// after the call itself. Here a node is the next slot of the newest chunk or
// the head of the free list, a few instructions either way, and nodes made one
// after another sit next to each other, so a walk along a chain built by
// appends reads memory in order. Chunks double from 4 nodes to 1024, so a
// small list wastes little and a long one allocates rarely. Like the growable
// arrays, a pool never shrinks: removed nodes wait in the free list until the
// structure is cleared or destroyed, which frees every chunk at once.
#pragma once

#include "ref.hpp"

#include <cstddef>
#include <new>
#include <utility>

namespace morvena {

template <class Node>
class NodePool {
    static_assert(sizeof(Node) >= sizeof(void *), "a free node keeps the free list's link in its own storage");
    static constexpr std::size_t first_chunk = 4;
    static constexpr std::size_t largest_chunk = 1024;

    struct Chunk {
        Chunk *older;
    };
    // The nodes start after the header, aligned as a node must be.
    static constexpr std::size_t header = (sizeof(Chunk) + alignof(Node) - 1) / alignof(Node) * alignof(Node);
    union Free {
        Free *next;
    };

public:
    NodePool() = default;
    NodePool(const NodePool &) = delete;
    NodePool &operator=(const NodePool &) = delete;
    NodePool(NodePool &&other) noexcept
        : chunks_(std::exchange(other.chunks_, nullptr)),
          free_(std::exchange(other.free_, nullptr)),
          fresh_(std::exchange(other.fresh_, nullptr)),
          fresh_end_(std::exchange(other.fresh_end_, nullptr)),
          next_chunk_(std::exchange(other.next_chunk_, first_chunk)) {}
    // The owner has destroyed every node it took.
    ~NodePool() {
        while (chunks_) PyMem_Free(std::exchange(chunks_, chunks_->older));
    }

    // Raw storage for one node; the caller constructs it in place.
    void *take() {
        if (free_) return std::exchange(free_, free_->next);
        if (fresh_ == fresh_end_) add_chunk();
        return fresh_++;
    }

    // Storage of a node the caller has already destroyed.
    void give(void *storage) noexcept { free_ = new (storage) Free{free_}; }

private:
    void add_chunk() {
        std::size_t count = next_chunk_;
        auto *chunk = static_cast<Chunk *>(PyMem_Malloc(header + count * sizeof(Node)));
        if (!chunk) throw std::bad_alloc();
        chunk->older = chunks_;
        chunks_ = chunk;
        fresh_ = reinterpret_cast<Node *>(reinterpret_cast<char *>(chunk) + header);
        fresh_end_ = fresh_ + count;
        if (next_chunk_ < largest_chunk) next_chunk_ *= 2;
    }

    Chunk *chunks_ = nullptr;  // newest first
    Free *free_ = nullptr;
    Node *fresh_ = nullptr;  // never-used nodes of the newest chunk: [fresh_, fresh_end_)
    Node *fresh_end_ = nullptr;
    std::size_t next_chunk_ = first_chunk;
};

}  // namespace morvena
