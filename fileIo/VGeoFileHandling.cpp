#include "fileIo/VGeoFileHandling.h"

#include "app/Platform.h"

#include "fileIo/ByteOrder.h"
#include "fileIo/KStdFile.h"
#include "fileIo/SafeFileWriter.h"

#include "topolib/ParallelRuns.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// Layout of an entry (little-endian): 256 zero bytes, u32 T (triangles in the
// shell section), six f32 box corners; 256 zero bytes, u32 V, V vertices of
// three f32; 256 zero bytes, u32 S, S shell records; 256 zero bytes, u32 E,
// E edges of two u32 vertex indices. A shell record: 3 spare bytes, f32 |area|,
// f32 volume, u32 P, P index triples (primary class), u32 R, R index triples
// (reversed class). Of the spare bytes, the third holds 1 for an inner shell
// made by hollowing (the shell's hollow byte) and the others are zero; readers
// that know no such byte skip all three, and older entries hold zeros there.

namespace fileIo {

namespace {

constexpr uint32_t kPadding = 256;
constexpr uint32_t kVertexBytes = 12;
constexpr uint32_t kTriangleBytes = 12;
constexpr uint32_t kEdgeBytes = 8;
// The smallest shell record: 3 spare bytes, area, volume and two zero counts.
constexpr uint32_t kMinShellBytes = 19;
// Where in the spare bytes of a shell record the hollow byte is kept.
constexpr uint32_t kShellSpareBytes = 3;
constexpr uint32_t kHollowByte = 2;

// The rest of an entry, read into one block on a helper thread while the
// caller decodes what has arrived. The block is only address space until
// the bytes arrive (a forged length costs nothing beyond the bytes really
// there); wait(n) returns once the first n bytes are in, false when the
// stream ended or failed before. When the address space for the claimed
// length cannot be had, a smaller room is taken: a stream that ends within
// it reads as before, and only one that really holds more than the room
// throws std::bad_alloc from wait(). The stream is the helper's until the
// object is destroyed.
class EntryBytes {
public:
    EntryBytes(KBaseStream& stream, uint64_t length) : stream_(stream), length_(length), room_(length) {
        if (length_ > 0) {
#if defined(__linux__)
            void* block = MAP_FAILED;
            for (;;) {
                block = ::mmap(nullptr, room_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                               -1, 0);
                if (block != MAP_FAILED || room_ <= kChunk)
                    break;
                room_ = std::max<uint64_t>(room_ / 2, kChunk);
            }
            if (block == MAP_FAILED)
                throw std::bad_alloc();
            data_ = static_cast<char*>(block);
#else
            data_ = new char[length_];
#endif
        }
        // A short entry is read at once: starting a thread would cost more
        // than the overlap saves (a project of thousands of small objects
        // spent milliseconds per object on it).
        if (length_ <= kChunk) {
            run();
            return;
        }
        try {
            helper_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            run();
        }
    }
    ~EntryBytes() {
        stop_.store(true, std::memory_order_relaxed);
        if (helper_.joinable())
            helper_.join();
#if defined(__linux__)
        if (data_)
            ::munmap(data_, room_);
#else
        delete[] data_;
#endif
    }
    EntryBytes(const EntryBytes&) = delete;
    EntryBytes& operator=(const EntryBytes&) = delete;

    const char* data() const { return data_; }
    uint64_t length() const { return length_; }
    bool wait(uint64_t n) {
        if (n > length_)
            return false;
        if (arrived_.load(std::memory_order_acquire) >= n)
            return true;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return ended_ || arrived_.load(std::memory_order_acquire) >= n; });
        if (arrived_.load(std::memory_order_acquire) >= n)
            return true;
        if (outOfRoom_)
            throw std::bad_alloc();
        return false;
    }

private:
    static constexpr uint64_t kChunk = 1 << 20;

    void run() {
        uint64_t have = 0;
        while (have < room_ && !stop_.load(std::memory_order_relaxed)) {
            const auto take = static_cast<uint32_t>(std::min(room_ - have, kChunk));
            if (!stream_.read(data_ + have, take))
                break;
            have += take;
            std::lock_guard<std::mutex> lock(mutex_);
            arrived_.store(have, std::memory_order_release);
            changed_.notify_all();
        }
        // A full room short of the claimed length: the stream holding a byte
        // more is what we cannot take, not a damaged entry.
        char more = 0;
        const bool beyondRoom = have == room_ && room_ < length_ && !stop_.load(std::memory_order_relaxed) &&
                                stream_.read(&more, 1);
        std::lock_guard<std::mutex> lock(mutex_);
        outOfRoom_ = beyondRoom;
        ended_ = true;
        changed_.notify_all();
    }

    KBaseStream& stream_;
    const uint64_t length_;
    uint64_t room_;
    char* data_ = nullptr;
    std::atomic<uint64_t> arrived_{0};
    std::atomic<bool> stop_{false};
    bool ended_ = false;
    bool outOfRoom_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread helper_;
};

// An entry's bytes taken front to back; every count is checked against what
// is left before it sizes anything, and every byte is waited for before it
// is read.
class Cursor {
public:
    explicit Cursor(EntryBytes& bytes) : bytes_(&bytes) {}

    uint64_t left() const { return bytes_->length() - at_; }
    bool canHold(uint32_t count, uint32_t size) const { return uint64_t(count) * size <= left(); }
    bool skip(uint64_t n) {
        if (left() < n || !bytes_->wait(at_ + n))
            return false;
        at_ += n;
        return true;
    }
    bool u32(uint32_t& v) {
        const char* p = take(4);
        if (!p)
            return false;
        v = loadU32(p);
        return true;
    }
    bool f32(float& v) {
        const char* p = take(4);
        if (!p)
            return false;
        v = loadF32(p);
        return true;
    }
    // `count` records of `size` bytes: their first byte, or null when the
    // entry does not hold them.
    const char* records(uint32_t count, uint32_t size) {
        if (!canHold(count, size))
            return nullptr;
        return take(uint64_t(count) * size);
    }

private:
    const char* take(uint64_t n) {
        if (left() < n || !bytes_->wait(at_ + n))
            return nullptr;
        const char* p = bytes_->data() + at_;
        at_ += n;
        return p;
    }

    EntryBytes* bytes_;
    uint64_t at_ = 0;
};

// The index triple of a triangle record when it is usable: three distinct
// vertices below vertexCount.
bool triangleIndices(const char* r, uint32_t vertexCount, uint32_t (&v)[3]) {
    v[0] = loadU32(r);
    v[1] = loadU32(r + 4);
    v[2] = loadU32(r + 8);
    return v[0] < vertexCount && v[1] < vertexCount && v[2] < vertexCount && v[0] != v[1] && v[1] != v[2] &&
           v[0] != v[2];
}

// Work split over threads for the per-record passes of big meshes: one thread
// below 64Ki records, else one per processor the machine's load leaves for
// passes (platform::passProcessorCount), up to eight.
unsigned threadsFor(size_t records) {
    if (records < (size_t(1) << 16))
        return 1;
    const unsigned cores = platform::passProcessorCount();
    return static_cast<unsigned>(std::min<size_t>({cores, 8, records >> 15}));
}

using topolib::forRanges;

// Links side k of t to edge e, and e to t. A side that several edges match
// keeps the last of them in the edge array (the highest index), whichever
// thread links it first.
void linkSide(topolib::StlEdge* e, topolib::StlTriangle* t, int k) {
    using EdgeRef = topolib::Ref<topolib::StlEdge>;
    auto* slot = reinterpret_cast<uint32_t*>(&t->edges[k]);
    const uint32_t mine = EdgeRef(e).raw();
    uint32_t held = __atomic_load_n(slot, __ATOMIC_RELAXED);
    while ((held == 0 || EdgeRef::fromRaw(held)->index < e->index) &&
           !__atomic_compare_exchange_n(slot, &held, mine, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
    }
    e->addTriangle(t);
}

bool hasEnds(const topolib::StlEdge* e) {
    return e->vertexCount() >= 2 && e->vertex(0) != nullptr && e->vertex(1) != nullptr;
}

// An edge whose first vertex is a hub is linked with the other edges of that
// vertex (linkHubEdges).
bool atHub(const topolib::StlEdge* e) {
    return hasEnds(e) && e->vertex(0)->triangleCount() > topolib::StlVertex::kHubTriangles;
}

// Links edge e to every live triangle in its first vertex's incident list
// that has e's two end points as a side (its first such side), in list order.
void linkEdge(topolib::StlEdge* e) {
    if (!hasEnds(e))
        return;
    const topolib::StlVertex* a = e->vertex(0);
    const topolib::StlVertex* b = e->vertex(1);
    for (topolib::StlTriangle* t : *a) {
        if (t->isDeleted())
            continue;
        for (int k = 0; k < 3; ++k) {
            const topolib::StlVertex* s0 = t->vertices[k];
            const topolib::StlVertex* s1 = t->vertices[(k + 1) % 3];
            if ((s0 == a && s1 == b) || (s0 == b && s1 == a)) {
                linkSide(e, t, k);
                break;
            }
        }
    }
}

// linkEdge for every edge of `edges`, all with first vertex a: one pass over
// a's list hands each side at a to the edges to its far end, where linkEdge
// would read the whole list once for each edge.
void linkHubEdges(const topolib::StlVertex* a, topolib::StlEdge* const* edges, size_t count) {
    std::unordered_map<const topolib::StlVertex*, std::vector<topolib::StlEdge*>> byFarEnd;
    for (size_t i = 0; i < count; ++i)
        byFarEnd[edges[i]->vertex(1)].push_back(edges[i]);
    for (topolib::StlTriangle* t : *a) {
        if (t->isDeleted())
            continue;
        // An edge takes the first side of t that it matches.
        const topolib::StlVertex* taken[3] = {nullptr, nullptr, nullptr};
        for (int k = 0; k < 3; ++k) {
            const topolib::StlVertex* s0 = t->vertices[k];
            const topolib::StlVertex* s1 = t->vertices[(k + 1) % 3];
            const topolib::StlVertex* far = s0 == a ? s1 : s1 == a ? s0 : nullptr;
            if (far == nullptr || std::find(taken, taken + k, far) != taken + k)
                continue;
            taken[k] = far;
            const auto it = byFarEnd.find(far);
            if (it == byFarEnd.end())
                continue;
            for (topolib::StlEdge* e : it->second)
                linkSide(e, t, k);
        }
    }
}

// linkHubEdges for the edges at every hub, hub by hub on `threads` threads.
void linkEdgesAtHubs(const topolib::RefArray<topolib::StlEdge>& edges, unsigned threads) {
    // Grouped by hub, in edge order within a group.
    std::vector<topolib::StlEdge*> hubEdges;
    for (topolib::StlEdge* e : edges)
        if (e && atHub(e))
            hubEdges.push_back(e);
    if (hubEdges.empty())
        return;
    std::stable_sort(
        hubEdges.begin(), hubEdges.end(),
        [](const topolib::StlEdge* x, const topolib::StlEdge* y) { return x->vertex(0) < y->vertex(0); });
    std::vector<size_t> groups;
    for (size_t i = 0; i < hubEdges.size(); ++i)
        if (i == 0 || hubEdges[i]->vertex(0) != hubEdges[i - 1]->vertex(0))
            groups.push_back(i);
    groups.push_back(hubEdges.size());
    const size_t hubs = groups.size() - 1;
    forRanges(hubs, static_cast<unsigned>(std::min<size_t>(threads, hubs)), [&](size_t begin, size_t end) {
        for (size_t g = begin; g < end; ++g)
            linkHubEdges(hubEdges[groups[g]]->vertex(0), hubEdges.data() + groups[g],
                         groups[g + 1] - groups[g]);
    });
}

// Gathers the entry in memory and hands it to the stream in large blocks;
// remembers whether any write failed. Records are filled in place: `take`
// hands out room for n bytes at the end of the buffer.
class EntryWriter {
public:
    explicit EntryWriter(KBaseStream& stream) : stream_(stream), buffer_(new char[kFlushAt]) {}

    // n is at most kFlushAt.
    char* take(size_t n) {
        if (used_ + n > kFlushAt)
            flush();
        char* at = buffer_.get() + used_;
        used_ += n;
        return at;
    }
    void zeros(uint32_t n) { std::memset(take(n), 0, n); }
    void u32(uint32_t v) { storeU32(take(4), v); }
    void f32(float v) { storeF32(take(4), v); }
    // `count` records of `size` bytes, filled by fill(first, n, out) for n
    // records from record `first` on, block by block, each block's records
    // side by side on several threads for big counts (fill must only read
    // the mesh).
    template <typename Fill>
    void records(size_t count, uint32_t size, const Fill& fill) {
        const size_t perBlock = kFlushAt / size;
        const unsigned threads = threadsFor(count);
        for (size_t first = 0; first < count; first += perBlock) {
            const size_t n = std::min(perBlock, count - first);
            char* out = take(n * size);
            forRanges(n, threads,
                      [&](size_t begin, size_t end) { fill(first + begin, end - begin, out + begin * size); });
        }
    }
    bool finish() {
        flush();
        return ok_;
    }

private:
    static constexpr size_t kFlushAt = 4 << 20;

    void flush() {
        if (used_ > 0 && ok_)
            ok_ = stream_.write(buffer_.get(), static_cast<uint32_t>(used_));
        used_ = 0;
    }

    KBaseStream& stream_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    bool ok_ = true;
};

// The index triples of triangles[0, count) as records.
void writeTriangles(EntryWriter& out, const topolib::StlTriangle* const* triangles, size_t count) {
    out.records(count, kTriangleBytes, [triangles](size_t first, size_t n, char* r) {
        for (size_t i = 0; i < n; ++i, r += kTriangleBytes)
            for (int k = 0; k < 3; ++k)
                storeU32(r + 4 * k, static_cast<uint32_t>(triangles[first + i]->vertices[k]->index));
    });
}

// Gives up on a shell whose triangle list broke off: its triangles leave their
// vertices' incident lists (they stay in the mesh's record pool, deleted and
// without a shell) and the shell is freed.
void discardShell(topolib::StlShell* shell) {
    for (auto* list : {&shell->primaryTriangles, &shell->reversedTriangles})
        for (topolib::StlTriangle* t : *list) {
            t->detachFromVertices();
            t->setDeleted(true);
            t->shell = nullptr;
        }
    delete shell;
}

// The triangles an entry of mesh holds, in the order written: each shell's
// valid primary then reversed triangles (listSizes gets each list's count),
// then the valid triangles no shell lists. Validity is tested once per
// record, on several threads for big meshes.
void collectWritten(const topolib::StlObject& mesh, std::vector<const topolib::StlTriangle*>& valid,
                    std::vector<uint32_t>& listSizes) {
    {
        std::vector<const topolib::StlTriangle*> listed;
        for (const auto* shell : mesh.shells())
            for (const auto* list : {&shell->primaryTriangles, &shell->reversedTriangles}) {
                listed.insert(listed.end(), list->begin(), list->end());
                listSizes.push_back(static_cast<uint32_t>(list->size()));
            }
        std::vector<char> ok(listed.size());
        forRanges(listed.size(), threadsFor(listed.size()), [&](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i)
                ok[i] = mesh.isValidTriangle(listed[i]);
        });
        valid.reserve(listed.size());
        size_t at = 0;
        for (uint32_t& size : listSizes) {
            const size_t before = valid.size();
            for (const size_t end = at + size; at < end; ++at)
                if (ok[at])
                    valid.push_back(listed[at]);
            size = static_cast<uint32_t>(valid.size() - before);
        }
    }
    // Every valid triangle must stand in a shell, or the reader would not get
    // it back. Valid triangles that no shell lists (added since the last shell
    // search) are written as one more shell record of their own; the mesh
    // itself is not touched (its shells may be held elsewhere).
    const auto& all = mesh.triangles();
    std::vector<char> listed(all.size(), 0);
    for (const auto* t : valid)
        if (t->id >= 0 && static_cast<size_t>(t->id) < all.size() && all[static_cast<size_t>(t->id)] == t)
            listed[static_cast<size_t>(t->id)] = 1;
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i] && !listed[i] && mesh.isValidTriangle(all[i]))
            valid.push_back(all[i]);
}

// The header: the triangle count the entry declares, and its box, which the
// mesh takes for now when it is finite. False when the entry is too short.
bool readHead(Cursor& in, topolib::StlObject& mesh, uint32_t& declaredTriangles) {
    float box[6];
    if (!in.skip(kPadding) || !in.u32(declaredTriangles))
        return false;
    for (float& v : box)
        if (!in.f32(v))
            return false;
    // The stored box is not trusted: it is computed from the vertices at the
    // end (the octree divides the box down towards the vertices, and a box
    // that is not finite would never end that division).
    const double boxMin[3] = {box[0], box[1], box[2]};
    const double boxMax[3] = {box[3], box[4], box[5]};
    if (topolib::isFiniteVector(boxMin) && topolib::isFiniteVector(boxMax))
        mesh.setBoundingBox(boxMin, boxMax);
    return true;
}

enum class VertexRead { Done, Short, NotFinite };

// The vertex records, appended to the mesh up to the first that is not
// finite; the mesh's vertex count follows what was appended.
VertexRead readVertices(Cursor& in, topolib::StlObject& mesh, uint32_t declaredTriangles, uint32_t& vertexCount) {
    const char* vertexRecords = nullptr;
    if (!in.skip(kPadding) || !in.u32(vertexCount) ||
        !VGeoFileHandling::countsFit(declaredTriangles, vertexCount, in.left()) ||
        !(vertexRecords = in.records(vertexCount, kVertexBytes)))
        return VertexRead::Short;
    auto& vertices = mesh.vertices();
    mesh.reserveRecords(vertexCount, 0, 0);
    vertices.reserve(vertices.size() + vertexCount);
    VertexRead result = VertexRead::Done;
    for (uint32_t i = 0; i < vertexCount; ++i) {
        const char* r = vertexRecords + size_t(i) * kVertexBytes;
        const double p[3] = {loadF32(r), loadF32(r + 4), loadF32(r + 8)};
        if (!topolib::isFiniteVector(p)) {
            result = VertexRead::NotFinite;
            break;
        }
        mesh.appendVertex(mesh.newVertex(p));
    }
    mesh.setVertexCount(static_cast<uint32_t>(vertices.size()));
    return result;
}

// A first pass over the shell records (from `scan`, a copy of the cursor)
// counts the usable triangles and each vertex's share of them, up to the first
// fault: every incident list gets its room in one shared block, and the
// triangle records are reserved in one block (a failure further on keeps what
// was read). Returns the usable triangles.
size_t reserveForShells(Cursor scan, topolib::StlObject& mesh, uint32_t shellCount, uint32_t vertexCount) {
    std::vector<uint32_t> incidence(vertexCount, 0);
    size_t usableTriangles = 0;
    bool ok = true;
    for (uint32_t s = 0; s < shellCount && ok; ++s) {
        ok = scan.skip(11);
        for (int half = 0; half < 2 && ok; ++half) {
            uint32_t count = 0;
            const char* r = nullptr;
            ok = scan.u32(count) && (r = scan.records(count, kTriangleBytes));
            for (uint32_t i = 0; i < count && ok; ++i) {
                uint32_t v[3];
                ok = triangleIndices(r + size_t(i) * kTriangleBytes, vertexCount, v);
                if (ok) {
                    ++usableTriangles;
                    for (const uint32_t x : v)
                        ++incidence[x];
                }
            }
        }
    }
    size_t slots = 0;
    for (const uint32_t n : incidence)
        slots += std::min<uint32_t>(n, topolib::StlVertex::kMaxTriangles);
    topolib::Ref<topolib::StlTriangle>* block = slots > 0 ? mesh.newIncidentBlock(slots) : nullptr;
    auto& vertices = mesh.vertices();
    for (uint32_t i = 0; i < vertexCount; ++i)
        if (incidence[i] > 0) {
            const uint32_t room = std::min<uint32_t>(incidence[i], topolib::StlVertex::kMaxTriangles);
            vertices[i]->useExternalList(block, room);
            block += room;
        }
    std::vector<uint32_t>().swap(incidence);
    mesh.reserveRecords(0, static_cast<uint32_t>(usableTriangles), 0);
    return usableTriangles;
}

// The triangle records made from the shell records, in order with their shell
// and class: made[i] comes from the index triple at records[i]; the first
// `kept` belong to shells that were kept.
struct ShellTriangles {
    std::vector<topolib::StlTriangle*> made;
    std::vector<const char*> records;
    size_t kept = 0;
    uint64_t trianglesRead = 0; // in the kept shells
};

// One shell record while it is read. The shell is made when its first
// triangle arrives: a record that lists no triangle holds nothing for the mesh
// and is passed over, so that every shell kept is backed by triangle records
// of the entry (an empty shell costs a few bytes in the file but far more in
// memory).
struct ShellRecord {
    float area = 0, volume = 0;
    uint8_t hollow = 0;
    std::unique_ptr<topolib::StlShell> shell;
};

// Reads one class of a shell's triangles (primary or reversed) and makes their
// records; false at a short list or an unusable index triple.
bool readShellTriangles(Cursor& in, topolib::StlObject& mesh, uint32_t vertexCount, bool reversed,
                        ShellRecord& record, ShellTriangles& out) {
    uint32_t count = 0;
    const char* r = nullptr;
    if (!in.u32(count) || !(r = in.records(count, kTriangleBytes)))
        return false;
    for (uint32_t i = 0; i < count; ++i, r += kTriangleBytes) {
        uint32_t v[3];
        if (!triangleIndices(r, vertexCount, v))
            return false;
        if (!record.shell) {
            record.shell = std::make_unique<topolib::StlShell>(&mesh);
            record.shell->area = record.area;
            record.shell->volume = record.volume;
            record.shell->spare = record.hollow;
        }
        auto* t = mesh.newTriangle();
        t->shell = record.shell.get();
        if (reversed)
            t->setReversed(true);
        (reversed ? record.shell->reversedTriangles : record.shell->primaryTriangles).push_back(t);
        out.made.push_back(t);
        out.records.push_back(r);
    }
    return true;
}

// The shell records with their two classes of triangles, up to the first
// fault (false); a shell whose list broke off is discarded.
bool readShells(Cursor& in, topolib::StlObject& mesh, uint32_t shellCount, uint32_t vertexCount,
                ShellTriangles& out) {
    ShellRecord record;
    for (uint32_t s = 0; s < shellCount; ++s) {
        const char* spare = in.records(1, kShellSpareBytes);
        if (!spare || !in.f32(record.area) || !in.f32(record.volume))
            return false;
        record.hollow = spare[kHollowByte] != 0 ? 1 : 0;
        record.shell.reset();
        if (!readShellTriangles(in, mesh, vertexCount, false, record, out) ||
            !readShellTriangles(in, mesh, vertexCount, true, record, out)) {
            if (record.shell)
                discardShell(record.shell.release());
            return false;
        }
        if (!record.shell)
            continue;
        topolib::StlShell* shell = record.shell.release();
        shell->triangleCount = static_cast<uint32_t>(shell->primaryTriangles.size() + shell->reversedTriangles.size());
        out.trianglesRead += shell->triangleCount;
        mesh.shells().push_back(shell);
        out.kept = out.made.size();
    }
    return true;
}

// Every triangle made gets its corners and normal (as initInShell gives them),
// and its terms of the mesh's area and volume sums (twice its area, and that
// times the distance of its plane from `reference`); the incident lists, in
// the order the triangles were made, take only those of kept shells. The lists
// are split by vertex index, so that each is filled by one thread.
void fillTriangles(topolib::StlObject& mesh, uint32_t vertexCount, const ShellTriangles& read,
                   const topolib::Vector3D& reference, std::vector<double>& areaTerms,
                   std::vector<double>& volumeTerms) {
    const auto& vertices = mesh.vertices();
    const size_t count = read.made.size();
    const unsigned threads = threadsFor(count);
    areaTerms.assign(count, 0.0);
    volumeTerms.assign(count, 0.0);
    forRanges(count, threads, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            topolib::StlTriangle* t = read.made[i];
            for (int k = 0; k < 3; ++k)
                t->vertices[k] = vertices[loadU32(read.records[i] + 4 * k)];
            const double twiceArea = t->computeNormal();
            areaTerms[i] = twiceArea;
            volumeTerms[i] = (t->vertices[0]->pos - reference).dot(t->normal) * twiceArea;
        }
    });
    forRanges(vertexCount, threads, [&](size_t begin, size_t end) {
        for (size_t i = 0; i < read.kept; ++i)
            for (int k = 0; k < 3; ++k) {
                const uint32_t x = loadU32(read.records[i] + 4 * k);
                if (x < begin || x >= end)
                    continue;
                topolib::StlVertex* corner = vertices[x];
                if (!corner->appendUnlisted(read.made[i]))
                    corner->addTriangle(read.made[i]);
            }
    });
}

// The triangle array, shell by shell (primary then reversed), numbered.
void fillTriangleArray(topolib::StlObject& mesh) {
    size_t total = 0;
    for (const topolib::StlShell* sh : mesh.shells())
        total += std::max<size_t>(sh->triangleCount, sh->primaryTriangles.size() + sh->reversedTriangles.size());
    auto& array = mesh.triangles();
    array.clear();
    array.reserve(total + 100);
    for (topolib::StlShell* sh : mesh.shells())
        for (auto* list : {&sh->primaryTriangles, &sh->reversedTriangles})
            for (topolib::StlTriangle* t : *list) {
                t->id = static_cast<int32_t>(array.size());
                array.push_back(t);
            }
    mesh.setFacetCount(static_cast<uint32_t>(array.size()));
}

// The edge records as vertex pairs; false when the entry is short or names a
// vertex it does not hold.
bool readEdges(Cursor& in, topolib::StlObject& mesh, uint32_t vertexCount) {
    uint32_t edgeCount = 0;
    const char* edgeRecords = nullptr;
    if (!in.skip(kPadding) || !in.u32(edgeCount) || !(edgeRecords = in.records(edgeCount, kEdgeBytes)))
        return false;
    if (edgeCount == 0)
        return true;
    auto& vertices = mesh.vertices();
    auto& edges = mesh.edges();
    mesh.reserveRecords(0, 0, edgeCount);
    edges.reserve(edges.size() + edgeCount);
    for (uint32_t i = 0; i < edgeCount; ++i) {
        const char* r = edgeRecords + size_t(i) * kEdgeBytes;
        const uint32_t a = loadU32(r), b = loadU32(r + 4);
        if (a >= vertexCount || b >= vertexCount)
            return false;
        auto* e = mesh.newEdge(vertices[a], vertices[b]);
        e->index = static_cast<uint32_t>(edges.size());
        edges.push_back(e);
    }
    return true;
}

// Every edge is linked to the triangles that have its end points as a side
// (edges side by side on several threads; each edge's list is its own); then,
// in the order of the triangle array, a side that no edge of the entry took
// gets the live edge between its ends found through their triangles, or a new
// edge, and that edge lists the triangle.
void linkTrianglesToEdges(topolib::StlObject& mesh) {
    auto& edges = mesh.edges();
    const unsigned threads = threadsFor(edges.size());
    forRanges(edges.size(), threads, [&edges](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
            if (edges[i] && !atHub(edges[i]))
                linkEdge(edges[i]);
    });
    linkEdgesAtHubs(edges, threads);
    for (topolib::StlTriangle* t : mesh.triangles())
        for (int k = 0; k < 3; ++k) {
            if (t->edges[k])
                continue;
            topolib::StlVertex* a = t->vertices[k];
            topolib::StlVertex* b = t->vertices[(k + 1) % 3];
            // Sides past a full list (the hub of a huge fan) come here: the
            // edge is looked for through the far end's list when that is shorter.
            topolib::StlEdge* e = topolib::StlVertex::readsFarEnd(*a, *b) ? topolib::StlVertex::findEdgeTo(b, a)
                                                                           : topolib::StlVertex::findEdgeTo(a, b);
            if (!e)
                e = mesh.addEdge(a, b);
            if (std::find(e->begin(), e->end(), t) == e->end())
                e->addTriangle(t);
            t->edges[k] = e;
        }
}

} // namespace

int VGeoFileHandling::readFromStream(KBaseStream* stream) {
    if (!stream || !target_ || stream->atEnd())
        return kFailure;
    const int64_t length = stream->size();
    streamLength_ = length > 0 ? uint64_t(length) : 0;
    if (length < 1)
        return kFailure;
    const int64_t position = stream->tell();
    topolib::StlObject& mesh = *target_;

    try {
        // The rest of the entry arrives on a helper thread while it is
        // decoded; every count below is backed by bytes really read before
        // it sizes a list or a pool.
        EntryBytes bytes(*stream, uint64_t(length - std::max<int64_t>(position, 0)));
        Cursor in(bytes);
        uint32_t declaredTriangles = 0, vertexCount = 0, shellCount = 0;
        if (!readHead(in, mesh, declaredTriangles))
            return kFailure;
        const VertexRead vertexRead = readVertices(in, mesh, declaredTriangles, vertexCount);
        if (vertexRead == VertexRead::NotFinite)
            failure_ = ReadFailure::NotFinite;
        if (vertexRead != VertexRead::Done)
            return kFailure;
        if (!in.skip(kPadding) || !in.u32(shellCount) || shellCount > kMaxShells ||
            !in.canHold(shellCount, kMinShellBytes))
            return kFailure;
        ShellTriangles read;
        const size_t usableTriangles = reserveForShells(in, mesh, shellCount, vertexCount);
        read.made.reserve(usableTriangles);
        read.records.reserve(usableTriangles);
        const bool shellsRead = readShells(in, mesh, shellCount, vertexCount, read);
        const auto& vertices = mesh.vertices();
        const topolib::Vector3D reference = vertices.empty() ? topolib::Vector3D() : vertices.front()->pos;
        std::vector<double> areaTerms, volumeTerms;
        fillTriangles(mesh, vertexCount, read, reference, areaTerms, volumeTerms);
        const size_t kept = read.kept;
        const uint64_t trianglesRead = read.trianglesRead;
        read = ShellTriangles();
        if (!shellsRead || trianglesRead != declaredTriangles)
            return kFailure;

        // The triangle array and the box from the vertices: what is left to
        // read and repair concerns the edges alone. The triangle array is made
        // only when triangles were actually read (the declared count is not
        // trusted for that decision).
        if (trianglesRead > 0)
            fillTriangleArray(mesh);
        if (!vertices.empty()) {
            mesh.computeBoundingBox();
            mesh.setBoundingBox(mesh.bboxMin(), mesh.bboxMax());
        }
        if (trianglesReady_)
            trianglesReady_();
        if (!readEdges(in, mesh, vertexCount))
            return kFailure;
        if (trianglesRead > 0) {
            linkTrianglesToEdges(mesh);
            // Area and volume as StlObject::computeAreaAndVolume sums them, in
            // the order of the triangle array.
            double area = 0.0, volume = 0.0;
            for (size_t i = 0; i < kept; ++i) {
                area += areaTerms[i];
                volume += volumeTerms[i];
            }
            mesh.setVolumeReference(reference.data());
            mesh.setArea(area / 2.0);
            mesh.setVolume(volume / 6.0);
        }
        return kSuccess;
    } catch (const std::bad_alloc&) {
        // Out of memory, or of room for the mesh records (no record window).
        return kNotEnoughMemory;
    }
}

uint32_t VGeoFileHandling::countWrittenTriangles(const topolib::StlObject& mesh) {
    std::vector<const topolib::StlTriangle*> valid;
    std::vector<uint32_t> listSizes;
    collectWritten(mesh, valid, listSizes);
    return static_cast<uint32_t>(valid.size());
}

int VGeoFileHandling::load() {
    if (!checkBeforeLoad())
        return kFailure;
    return noteLoadResult(readFile(fileName_));
}

int VGeoFileHandling::readAscii() {
    return kFailure;
}

int VGeoFileHandling::readStream(KBaseStream* stream) {
    return readFromStream(stream);
}

int VGeoFileHandling::readBinary() {
    return readFile(fileName_);
}

int VGeoFileHandling::writeAscii() {
    return kFailure;
}

int VGeoFileHandling::writeStream(KBaseStream* stream) {
    return writeToStream(stream);
}

int VGeoFileHandling::writeBinary() {
    return writeFile(fileName_);
}

uint64_t VGeoFileHandling::estimateMemory(KBaseStream* stream) {
    char head[kPadding + 4];
    if (stream) {
        if (!stream->read(head, sizeof head))
            return 0;
    } else {
        KStdFile file(fileName_, std::ios::in | std::ios::binary);
        if (!file.isOpen() || !file.read(head, sizeof head))
            return 0;
    }
    return uint64_t(loadU32(head + kPadding)) * kBytesPerTriangle;
}

int VGeoFileHandling::readFile(const std::wstring& fileName) {
    KStdFile file(fileName, std::ios::in | std::ios::binary);
    if (!file.isOpen() || !file.good())
        return kFailure;
    return readFromStream(&file);
}

int VGeoFileHandling::writeFile(const std::wstring& fileName) {
    if (!target_)
        return kFailure;
    // An existing file is replaced only when the whole entry was written.
    SafeFileWriter file(fileName);
    if (!file.isOpen() || writeToStream(&file) != kSuccess)
        return kFailure;
    return file.commit() ? kSuccess : kFailure;
}


int VGeoFileHandling::writeToStream(KBaseStream* stream) {
    if (!stream || !target_)
        return kFailure;
    topolib::StlObject& mesh = *target_;

    std::vector<const topolib::StlTriangle*> valid;
    std::vector<uint32_t> listSizes;
    collectWritten(mesh, valid, listSizes);
    size_t inShells = 0;
    for (const uint32_t size : listSizes)
        inShells += size;
    const uint32_t strays = static_cast<uint32_t>(valid.size() - inShells);

    EntryWriter out(*stream);
    out.zeros(kPadding);
    out.u32(static_cast<uint32_t>(valid.size()));
    for (const double* corner : {mesh.bboxMin(), mesh.bboxMax()})
        for (int k = 0; k < 3; ++k)
            out.f32(static_cast<float>(corner[k]));

    out.zeros(kPadding);
    const auto& vertices = mesh.vertices();
    out.u32(static_cast<uint32_t>(vertices.size()));
    out.records(vertices.size(), kVertexBytes, [&vertices](size_t first, size_t n, char* r) {
        for (size_t i = 0; i < n; ++i, r += kVertexBytes)
            for (int k = 0; k < 3; ++k)
                storeF32(r + 4 * k, static_cast<float>(vertices[first + i]->pos.data()[k]));
    });

    out.zeros(kPadding);
    const auto& shells = mesh.shells();
    out.u32(static_cast<uint32_t>(shells.size()) + (strays ? 1u : 0u));
    size_t next = 0, list = 0;
    if (numbering_) {
        numbering_->triangles.assign(mesh.triangles().size(), -1);
        for (size_t k = 0; k < valid.size(); ++k) {
            const auto id = static_cast<size_t>(valid[k]->id);
            if (id < numbering_->triangles.size())
                numbering_->triangles[id] = static_cast<int32_t>(k);
        }
    }
    for (const auto* shell : shells) {
        char* spare = out.take(kShellSpareBytes);
        std::memset(spare, 0, kShellSpareBytes);
        spare[kHollowByte] = shell->spare != 0 ? 1 : 0;
        out.f32(static_cast<float>(std::fabs(shell->area)));
        out.f32(static_cast<float>(shell->volume));
        for (int half = 0; half < 2; ++half, ++list) {
            out.u32(listSizes[list]);
            writeTriangles(out, valid.data() + next, listSizes[list]);
            next += listSizes[list];
        }
    }
    if (strays) {
        out.zeros(kShellSpareBytes);
        out.f32(0.0f);
        out.f32(0.0f);
        out.u32(strays);
        writeTriangles(out, valid.data() + next, strays);
        out.u32(0);
    }

    out.zeros(kPadding);
    const auto& edges = mesh.edges();
    std::vector<char> edgeOk(edges.size());
    forRanges(edges.size(), threadsFor(edges.size()), [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
            edgeOk[i] = edges[i] && mesh.isValidEdge(edges[i]);
    });
    std::vector<const topolib::StlEdge*> validEdges;
    validEdges.reserve(edges.size());
    for (size_t i = 0; i < edges.size(); ++i)
        if (edgeOk[i])
            validEdges.push_back(edges[i]);
    if (numbering_) {
        numbering_->edges.assign(edges.size(), -1);
        for (size_t k = 0; k < validEdges.size(); ++k)
            if (validEdges[k]->index < numbering_->edges.size())
                numbering_->edges[validEdges[k]->index] = static_cast<int32_t>(k);
    }
    out.u32(static_cast<uint32_t>(validEdges.size()));
    out.records(validEdges.size(), kEdgeBytes, [&validEdges](size_t first, size_t n, char* r) {
        for (size_t i = 0; i < n; ++i, r += kEdgeBytes) {
            storeU32(r, static_cast<uint32_t>(validEdges[first + i]->vertex(0)->index));
            storeU32(r + 4, static_cast<uint32_t>(validEdges[first + i]->vertex(1)->index));
        }
    });
    return out.finish() ? kSuccess : kFailure;
}

} // namespace fileIo
