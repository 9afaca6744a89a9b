#pragma once
// A list that grows at its end in blocks, like std::deque: what it holds never
// moves (a reference to an item stays valid while items are appended) and no
// item is copied when it grows. Unlike std::deque it allocates nothing while
// it holds at most kInline items, and its blocks start small and double up to
// kMaxBlock items: an empty list costs its 24 bytes, a list of a few items one
// small block, a long one at most a block of spare room. A mesh that falls
// apart into a million loose facets has a million one-triangle shells, each
// with two such lists.
//
// Items are trivially copyable (the mesh's 32-bit references); the list holds
// at most UINT32_MAX of them. Iterators are forward iterators, invalidated by
// any change of the list; references to items only by removing those items.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace topolib {

template <typename T> class SegmentedList {
    static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_destructible<T>::value,
                  "the list copies its items as bytes and never destroys them");

public:
    static constexpr uint32_t kInline = 2;     // items held in the list itself
    static constexpr uint32_t kFirstBlock = 8; // items of the first block
    static constexpr uint32_t kGrowingBlocks = 14;
    static constexpr uint32_t kMaxBlock = kFirstBlock << (kGrowingBlocks - 1); // 65536 items

    template <bool Const> class Iterator;
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;
    using value_type = T;
    using size_type = std::size_t;

    SegmentedList() = default;
    SegmentedList(const SegmentedList&) = delete;
    SegmentedList& operator=(const SegmentedList&) = delete;
    SegmentedList(SegmentedList&& other) noexcept { swap(other); }
    SegmentedList& operator=(SegmentedList&& other) noexcept {
        SegmentedList(std::move(other)).swap(*this);
        return *this;
    }
    ~SegmentedList() { clear(); }

    void swap(SegmentedList& other) noexcept {
        std::swap(m_blocks, other.m_blocks);
        std::swap(m_size, other.m_size);
        std::swap(m_inline, other.m_inline);
    }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    T& operator[](std::size_t i) { return *slot(static_cast<uint32_t>(i)); }
    const T& operator[](std::size_t i) const { return *slot(static_cast<uint32_t>(i)); }
    T& front() { return (*this)[0]; }
    const T& front() const { return (*this)[0]; }
    T& back() { return (*this)[m_size - 1]; }
    const T& back() const { return (*this)[m_size - 1]; }

    // Appends item; std::bad_alloc (the list unchanged) when a new block
    // cannot be made.
    void push_back(const T& item) {
        // item may be one of ours: items never move, so it stays valid.
        if (m_size < kInline) {
            m_inline[m_size++] = item;
            return;
        }
        if (m_size == UINT32_MAX)
            throw std::length_error("SegmentedList");
        const Place at = locate(m_size - kInline);
        if (at.offset == 0)
            addBlock(at.block);
        new (&m_blocks[at.block][at.offset]) T(item);
        ++m_size;
    }

    // Keeps the first n items, or appends value-initialised ones up to n.
    void resize(std::size_t n) {
        while (m_size < n)
            push_back(T());
        if (n >= m_size)
            return;
        const uint32_t keep = blocksFor(static_cast<uint32_t>(n));
        const uint32_t held = blocksFor(m_size);
        for (uint32_t b = keep; b < held; ++b)
            freeBlock(m_blocks[b]);
        m_size = static_cast<uint32_t>(n);
    }

    // Removes every item and gives back every block.
    void clear() noexcept {
        const uint32_t held = blocksFor(m_size);
        for (uint32_t b = 0; b < held; ++b)
            freeBlock(m_blocks[b]);
        ::operator delete(m_blocks);
        m_blocks = nullptr;
        m_size = 0;
    }

    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, m_size); }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, m_size); }

    template <bool Const> class Iterator {
        using List = typename std::conditional<Const, const SegmentedList, SegmentedList>::type;
        using Item = typename std::conditional<Const, const T, T>::type;

    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = Item*;
        using reference = Item&;

        Iterator() = default;
        Iterator(List* list, uint32_t index) : m_list(list), m_index(index) { seek(); }
        // A const iterator from a plain one.
        template <bool C = Const, typename = typename std::enable_if<C>::type>
        Iterator(const Iterator<false>& other) : Iterator(other.m_list, other.m_index) {}

        reference operator*() const { return *m_at; }
        pointer operator->() const { return m_at; }
        Iterator& operator++() {
            ++m_index;
            if (++m_at == m_end)
                seek();
            return *this;
        }
        Iterator operator++(int) {
            Iterator old = *this;
            ++*this;
            return old;
        }
        // Iterators of the same list compare by position.
        bool operator==(const Iterator& other) const { return m_index == other.m_index; }
        bool operator!=(const Iterator& other) const { return m_index != other.m_index; }

    private:
        friend class Iterator<true>;
        // Points at the item of m_index and the end of its run of adjacent
        // items; both null past the last item.
        void seek() {
            m_at = m_end = nullptr;
            if (m_list && m_index < m_list->m_size)
                m_list->run(m_index, &m_at, &m_end);
        }

        List* m_list = nullptr;
        uint32_t m_index = 0;
        Item* m_at = nullptr;
        Item* m_end = nullptr;
    };

private:
    struct Place {
        uint32_t block;
        uint32_t offset;
    };
    static constexpr uint32_t kGrowingItems = kFirstBlock * ((1u << kGrowingBlocks) - 1);

    static uint32_t blockItems(uint32_t block) {
        return block < kGrowingBlocks ? kFirstBlock << block : kMaxBlock;
    }
    // Position of the block's first item among the items past the inline ones.
    static uint64_t blockStart(uint32_t block) {
        return block < kGrowingBlocks ? uint64_t(kFirstBlock) * ((uint64_t(1) << block) - 1)
                                      : kGrowingItems + uint64_t(block - kGrowingBlocks) * kMaxBlock;
    }
    // Where item j past the inline ones lies.
    static Place locate(uint32_t j) {
        if (j < kGrowingItems) {
            const uint32_t block = 31u - static_cast<uint32_t>(__builtin_clz(j / kFirstBlock + 1));
            return Place{block, j - static_cast<uint32_t>(blockStart(block))};
        }
        const uint32_t rest = j - kGrowingItems;
        return Place{kGrowingBlocks + rest / kMaxBlock, rest % kMaxBlock};
    }
    // Blocks that `size` items occupy.
    static uint32_t blocksFor(uint32_t size) {
        return size <= kInline ? 0 : locate(size - 1 - kInline).block + 1;
    }
    // Entries of the block table while `blocks` blocks are held: a power of
    // two from 4 on, so that the table grows by doubling.
    static uint32_t tableEntries(uint32_t blocks) {
        uint32_t entries = blocks == 0 ? 0 : 4;
        while (entries < blocks)
            entries *= 2;
        return entries;
    }
    static void freeBlock(T* block) noexcept { ::operator delete(block); }

    // Makes block `block`, the next one; the list is unchanged when this throws.
    void addBlock(uint32_t block) {
        T* items = static_cast<T*>(::operator new(sizeof(T) * blockItems(block)));
        if (block == tableEntries(block)) {
            T** table = nullptr;
            try {
                table = static_cast<T**>(::operator new(sizeof(T*) * tableEntries(block + 1)));
            } catch (...) {
                freeBlock(items);
                throw;
            }
            for (uint32_t b = 0; b < block; ++b)
                table[b] = m_blocks[b];
            ::operator delete(m_blocks);
            m_blocks = table;
        }
        m_blocks[block] = items;
    }

    T* slot(uint32_t i) const {
        assert(i < m_size);
        if (i < kInline)
            return const_cast<T*>(&m_inline[i]);
        const Place at = locate(i - kInline);
        return m_blocks[at.block] + at.offset;
    }
    // The item i and the end of the items adjacent to it in memory.
    template <typename Item> void run(uint32_t i, Item** at, Item** end) const {
        T* first = slot(i);
        if (i < kInline) {
            *at = first;
            *end = const_cast<T*>(m_inline) + (m_size < kInline ? m_size : kInline);
            return;
        }
        const Place place = locate(i - kInline);
        const uint64_t left = uint64_t(m_size) - kInline - blockStart(place.block);
        *at = first;
        *end = m_blocks[place.block] + (left < blockItems(place.block) ? left : blockItems(place.block));
    }

    T** m_blocks = nullptr; // the block table
    uint32_t m_size = 0;
    T m_inline[kInline] = {};
};

} // namespace topolib
