#pragma once

#include "topolib/HugePageAdvice.h"

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace topolib {

// Stable storage for the records of one mesh. Records are constructed in large
// blocks and never move, so the pointer webs of the mesh stay valid; a mesh of a
// million triangles costs a handful of allocations. Records are not released one
// by one: the pool destroys all of them when it goes (or on clear()).
template <typename T>
class RecordPool {
public:
    RecordPool() = default;
    RecordPool(const RecordPool&) = delete;
    RecordPool& operator=(const RecordPool&) = delete;
    ~RecordPool() { clear(); }

    // Makes sure the next `count` records come from one block. With `mapAhead`
    // (for a reservation that is about to be filled), a new block's pages are
    // mapped ahead of its records on a helper thread.
    void reserve(std::size_t count, bool mapAhead = false) {
        if (m_blocks.empty() || m_blocks.back().capacity - m_blocks.back().used < count)
            addBlock(count, mapAhead);
    }

    template <typename... Args>
    T* create(Args&&... args) {
        if (m_blocks.empty() || m_blocks.back().used == m_blocks.back().capacity)
            addBlock(nextBlockSize(), false);
        Block& b = m_blocks.back();
        T* p = new (b.slot(b.used)) T(std::forward<Args>(args)...);
        ++b.used;
        ++m_size;
        return p;
    }

    // Takes `count` consecutive slots of one block and counts them as records.
    // The caller constructs every slot (placement new) before the pool is used
    // again; records can so be made on several threads.
    T* takeSlots(std::size_t count) {
        reserve(count, true);
        Block& b = m_blocks.back();
        T* first = reinterpret_cast<T*>(b.slot(b.used));
        b.used += count;
        m_size += count;
        return first;
    }

    // Exchanges the records of two pools (used to exchange whole meshes).
    void swap(RecordPool& other) noexcept {
        m_populator.stop();
        other.m_populator.stop();
        m_blocks.swap(other.m_blocks);
        std::swap(m_size, other.m_size);
    }

    // Number of records made since construction or the last clear().
    std::size_t size() const { return m_size; }

    // Destroys every record and releases the storage.
    void clear() {
        m_populator.stop();
        for (Block& b : m_blocks)
            for (std::size_t i = 0; i < b.used; ++i)
                reinterpret_cast<T*>(b.slot(i))->~T();
        m_blocks.clear();
        m_size = 0;
    }

private:
    struct Block {
        std::unique_ptr<unsigned char[]> storage;
        std::size_t capacity = 0;
        std::size_t used = 0;
        void* slot(std::size_t i) { return storage.get() + i * sizeof(T); }
    };

    std::size_t nextBlockSize() const {
        // Grow with the pool so that appends to a big mesh stay cheap, from a
        // small first block so that tiny meshes stay small.
        const std::size_t grown = m_size / 2;
        return grown < 64 ? 64 : grown;
    }

    void addBlock(std::size_t capacity, bool mapAhead) {
        Block b;
        // operator new[] of unsigned char is aligned for every fundamental type.
        static_assert(alignof(T) <= alignof(std::max_align_t), "over-aligned record");
        b.storage.reset(new unsigned char[capacity * sizeof(T)]);
        adviseHugePages(b.storage.get(), capacity * sizeof(T));
        b.capacity = capacity;
        m_blocks.push_back(std::move(b));
        // The records are made from the block's front. A block made for growth
        // is not mapped ahead: much of it may stay unused.
        if (mapAhead)
            m_populator.start({{m_blocks.back().storage.get(), capacity * sizeof(T)}});
    }

    std::vector<Block> m_blocks;
    std::size_t m_size = 0;
    PagePopulator m_populator; // maps a reserved block's pages ahead of its records
};

} // namespace topolib
