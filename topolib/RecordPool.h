#pragma once

#include "app/Platform.h"
#include "topolib/HugePageAdvice.h"
#include "topolib/RecordArena.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace topolib {

// Whether the pool of T destroys only the records that marked themselves as
// owners of memory (arena::markOwner): a record type says so with
// `static constexpr bool kMarksOwnedMemory = true` when its destructor does
// nothing for a record in the window that never marked itself.
template <typename T, typename = void>
struct DestroysMarkedOnly : std::false_type {};
template <typename T>
struct DestroysMarkedOnly<T, std::enable_if_t<T::kMarksOwnedMemory>> : std::true_type {};

// Stable storage for the records of one mesh. Records are constructed in large
// blocks and never move, so the pointer webs of the mesh stay valid; a mesh of a
// million triangles costs a handful of allocations. Records are not released one
// by one: the pool destroys all of them when it goes (or on clear()), looking at
// no more than the records that hold memory of their own where the type tells
// which (DestroysMarkedOnly).
template <typename T>
class RecordPool {
public:
    RecordPool() = default;
    RecordPool(const RecordPool&) = delete;
    RecordPool& operator=(const RecordPool&) = delete;
    // Moving takes the records along (they stay where they are); the moved-from
    // pool is left with the target's former records, which go with it.
    RecordPool(RecordPool&& other) noexcept { swap(other); }
    RecordPool& operator=(RecordPool&& other) noexcept {
        swap(other);
        return *this;
    }
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
        m_lent = nullptr;
        Block& b = m_blocks.back();
        T* p = new (b.slot(b.used)) T(std::forward<Args>(args)...);
        ++b.used;
        ++m_size;
        return p;
    }

    // Lends the room for the next `count` records, in one block, as plain
    // memory (the import sorts and numbers corners there). The loan ends when
    // a record is made: the next create() or takeSlots() of up to `count`
    // records takes this room, whose pages are then mapped already. Lending
    // the same room again returns the same address.
    void* lendRoom(std::size_t count) {
        reserve(count, false);
        Block& b = m_blocks.back();
        m_lent = b.slot(b.used);
        return m_lent;
    }
    // The room lent last while its loan lasts (no record made since); null
    // otherwise.
    void* lentRoom() const { return m_lent; }

    // Takes `count` consecutive slots of one block and counts them as records.
    // The caller constructs every slot (placement new) before the pool is used
    // again; records can so be made on several threads. A new block's pages
    // are mapped ahead unless `mapAhead` is false.
    T* takeSlots(std::size_t count, bool mapAhead = true) {
        reserve(count, mapAhead);
        Block& b = m_blocks.back();
        T* first = reinterpret_cast<T*>(b.slot(b.used));
        m_lent = nullptr;
        b.used += count;
        m_size += count;
        return first;
    }

    // Exchanges the records of two pools (used to exchange whole meshes).
    void swap(RecordPool& other) noexcept {
        m_populator.stop();
        other.m_populator.stop();
        m_blocks.swap(other.m_blocks);
        std::swap(m_lent, other.m_lent);
        std::swap(m_size, other.m_size);
    }

    // Whether p points into this pool's storage (a record made by it).
    bool holds(const T* p) const {
        const std::less<const T*> before;
        for (const Block& b : m_blocks) {
            const T* first = reinterpret_cast<const T*>(b.storage.get());
            if (!before(p, first) && before(p, first + b.used))
                return true;
        }
        return false;
    }

    // Number of records made since construction or the last clear().
    std::size_t size() const { return m_size; }

    // Destroys every record and releases the storage. A record type that
    // marks its owners has only the records in marked granules destroyed (the
    // others' destructors would do nothing); the records of a big pool that
    // all need looking at are destroyed on several threads.
    void clear() {
        m_populator.stop();
        if (DestroysMarkedOnly<T>::value)
            for (Block& b : m_blocks)
                destroyMarkedRecords(b);
        else if (!std::is_trivially_destructible<T>::value)
            for (Block& b : m_blocks)
                destroyRecords(b, 0, b.used);
        m_blocks.clear();
        m_size = 0;
        m_lent = nullptr;
    }

private:
    // Blocks come from the record window, so that records can name each other
    // with 32-bit references.
    struct BlockRelease {
        std::size_t bytes = 0;
        void operator()(unsigned char* p) const { arena::freeBlock(p, bytes); }
    };
    struct Block {
        std::unique_ptr<unsigned char[], BlockRelease> storage;
        std::size_t capacity = 0;
        std::size_t used = 0;
        void* slot(std::size_t i) { return storage.get() + i * sizeof(T); }
    };

    // Threads of their own, not the import's workers: a pool may go at
    // program exit, after those.
    // Destroys records [first, last) of b.
    static void destroyRecords(Block& b, std::size_t first, std::size_t last) {
        auto destroy = [&b](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i)
                reinterpret_cast<T*>(b.slot(i))->~T();
        };
        constexpr std::size_t kPerThread = std::size_t(1) << 18;
        const unsigned cores = platform::usableProcessorCount();
        const std::size_t threads =
            std::min<std::size_t>({(last - first) / kPerThread, std::size_t(cores), std::size_t(8)});
        std::vector<std::thread> helpers;
        std::size_t done = first; // records [first, done) are destroyed or being destroyed
        if (threads > 1) {
            const std::size_t part = (last - first) / threads;
            try {
                for (std::size_t t = 1; t < threads; ++t, done += part)
                    helpers.emplace_back(destroy, done, done + part);
            } catch (const std::system_error&) {
                // the rest is destroyed here
            }
        }
        destroy(done, last);
        for (std::thread& h : helpers)
            h.join();
    }

    // Destroys the records of b that begin in a marked granule.
    static void destroyMarkedRecords(Block& b) {
        const std::size_t bytes = b.used * sizeof(T);
        std::size_t runEnd = 0;
        for (std::size_t at = arena::nextMarkedRun(b.storage.get(), bytes, 0, &runEnd); at < bytes;
             at = arena::nextMarkedRun(b.storage.get(), bytes, runEnd, &runEnd))
            destroyRecords(b, (at + sizeof(T) - 1) / sizeof(T), (runEnd + sizeof(T) - 1) / sizeof(T));
    }

    std::size_t nextBlockSize() const {
        // Grow with the pool so that appends to a big mesh stay cheap, from a
        // small first block so that tiny meshes stay small.
        const std::size_t grown = m_size / 2;
        return grown < 64 ? 64 : grown;
    }

    void addBlock(std::size_t capacity, bool mapAhead) {
        // A block that holds no record yet (lent room too small for what
        // comes) is replaced, not left empty behind the new one; a loan ends.
        m_lent = nullptr;
        if (!m_blocks.empty() && m_blocks.back().used == 0) {
            m_populator.stop();
            m_blocks.pop_back();
        }
        Block b;
        // Window blocks are page aligned.
        static_assert(alignof(T) <= alignof(std::max_align_t), "over-aligned record");
        const std::size_t bytes = capacity * sizeof(T);
        b.storage = std::unique_ptr<unsigned char[], BlockRelease>(
            static_cast<unsigned char*>(arena::allocateBlock(bytes)), BlockRelease{bytes});
        b.capacity = capacity;
        m_blocks.push_back(std::move(b));
        // The records are made from the block's front. A block made for growth
        // is not mapped ahead: much of it may stay unused.
        if (mapAhead)
            m_populator.start({{m_blocks.back().storage.get(), capacity * sizeof(T)}});
    }

    std::vector<Block> m_blocks;
    std::size_t m_size = 0;
    void* m_lent = nullptr; // see lendRoom
    PagePopulator m_populator; // maps a reserved block's pages ahead of its records
};

} // namespace topolib
