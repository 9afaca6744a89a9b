#include "fileIo/StlFileHandling.h"

#include "fileIo/AsciiStlParser.h"
#include "fileIo/ByteOrder.h"
#include "fileIo/PathEncoding.h"
#include "fileIo/ReadCheck.h"
#include "fileIo/StlWriter.h"

#include "app/MemoryCheck.h"
#include "app/ProgressReport.h"
#include "topolib/FacetImport.h"
#include "topolib/StlObject.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace fileIo {

namespace {

constexpr uint32_t kBinaryHeader = 84;
constexpr uint32_t kBinaryRecord = 50;
constexpr uint32_t kBinaryFacetBytes = 48;
// Records read per block: big enough to make the stream cost vanish, small
// enough to stay in the cache.
constexpr uint32_t kRecordsPerBlock = 4096;
// Records a read on one thread parses before it hands their facets on.
constexpr uint32_t kRecordsParsedAtOnce = 128;
// Records of a block for each thread when several take part: a thread parses
// its part of the block and turns the same facets into triangles in the next
// pass while they (under a megabyte, with their records) are still in its
// cache, and every block costs the threads one start (a tenth of a
// millisecond or more on a busy machine). The block buffers stay far below
// the mesh being made.
constexpr uint32_t kRecordsPerThreadInBlock = 1u << 14;
// Progress reports per binary read.
constexpr uint32_t kProgressSteps = 40;
// First reservation, in facets, for input without a known size.
constexpr uint32_t kUnsizedFirstStep = 1u << 16;

// Bounding box of the parsed facets. The first facet's first corner starts it;
// each coordinate then lowers the minimum or raises the maximum (an equal one,
// as 0 after -0, changes neither). Kept in float, the coordinates' own type:
// the extremes are the same numbers as in double, found side by side.
struct FacetBox {
    float min[3] = {FLT_MAX, FLT_MAX, FLT_MAX};
    float max[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
    bool empty = true;

    void add(const float facet[12]) {
        if (empty) {
            for (int k = 0; k < 3; ++k)
                min[k] = max[k] = facet[3 + k];
            empty = false;
        }
        // The facet's own extremes first (the first of equal ones), then one
        // step of each running extreme: the same numbers as corner by corner,
        // without three steps that wait for one another.
        for (int k = 0; k < 3; ++k) {
            float lo = facet[3 + k], hi = facet[3 + k];
            for (const float* corner = facet + 6; corner != facet + 12; corner += 3) {
                lo = corner[k] < lo ? corner[k] : lo;
                hi = corner[k] > hi ? corner[k] : hi;
            }
            min[k] = lo < min[k] ? lo : min[k];
            max[k] = hi > max[k] ? hi : max[k];
        }
    }

    // Takes in the box of the facets after these (the extremes one pass over
    // all of them finds).
    void merge(const FacetBox& later) {
        if (later.empty)
            return;
        if (empty) {
            *this = later;
            return;
        }
        for (int k = 0; k < 3; ++k) {
            min[k] = later.min[k] < min[k] ? later.min[k] : min[k];
            max[k] = later.max[k] > max[k] ? later.max[k] : max[k];
        }
    }
};

// Finalises the running sums of area and volume and stores the box.
void finishSums(topolib::StlObject& mesh, const FacetBox& box) {
    mesh.setVolume(mesh.volume() / 6.0);
    mesh.setArea(mesh.area() * 0.5);
    if (!box.empty) {
        const double min[3] = {box.min[0], box.min[1], box.min[2]};
        const double max[3] = {box.max[0], box.max[1], box.max[2]};
        mesh.setBoundingBox(min, max);
        mesh.setLoadedBox(min, max);
    }
}

// Bytes left in a seekable stream from its current position; -1 when unknown.
int64_t remainingBytes(std::istream& in) {
    const auto here = in.tellg();
    if (here < 0)
        return -1;
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    in.clear();
    in.seekg(here);
    if (end < 0 || !in)
        return -1;
    return static_cast<int64_t>(end - here);
}

// The encoding of ASCII STL text saved as UTF-16 or UTF-32 (which has zero
// bytes among its first hundred and so reaches the binary reader), seen by
// "solid" at the start, after a byte order mark or without one; null for
// anything else. head: the first 84 bytes of the file.
const char* wideTextEncoding(const char* head) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(head);
    struct Form {
        const char* name;
        unsigned width; // bytes per character
        unsigned at;    // the byte of a character that holds an ASCII one
        unsigned char bom[4];
    };
    static const Form forms[] = {{"UTF-32", 4, 0, {0xFF, 0xFE, 0, 0}},
                                 {"UTF-32", 4, 3, {0, 0, 0xFE, 0xFF}},
                                 {"UTF-16", 2, 0, {0xFF, 0xFE, 0, 0}},
                                 {"UTF-16", 2, 1, {0xFE, 0xFF, 0, 0}}};
    for (const Form& form : forms) {
        const unsigned start = std::equal(form.bom, form.bom + form.width, b) ? form.width : 0;
        bool solid = true;
        for (unsigned i = 0; i < 5 && solid; ++i)
            for (unsigned k = 0; k < form.width && solid; ++k) {
                const unsigned char c = b[start + i * form.width + k];
                solid = k == form.at ? (c | 0x20) == static_cast<unsigned char>("solid"[i]) : c == 0;
            }
        if (solid)
            return form.name;
    }
    return nullptr;
}

// True when some triangle keeps its area once its edges are built: it is not
// deleted and its corners were not welded together.
bool hasValidTriangle(const topolib::StlObject& mesh) {
    for (const topolib::StlTriangle* t : mesh.triangles()) {
        const auto& v = t->vertices;
        if (!t->isDeleted() && v[0] != v[1] && v[1] != v[2] && v[2] != v[0])
            return true;
    }
    return false;
}

} // namespace

void PassedOverFacets::add(const float facet[12]) {
    float farthestHere = 0.0f;
    bool notNumber = false;
    for (int c = 3; c < 12; ++c) {
        if (std::fabs(facet[c]) > topolib::kMaxImportCoordinate &&
            std::fabs(facet[c]) > std::fabs(farthestHere))
            farthestHere = facet[c];
        notNumber |= std::isnan(facet[c]);
    }
    if (farthestHere != 0.0f) {
        ++beyond;
        if (std::fabs(farthestHere) > std::fabs(farthest))
            farthest = farthestHere;
    } else if (notNumber) {
        ++notANumber;
    }
}

void PassedOverFacets::merge(const PassedOverFacets& other) {
    notANumber += other.notANumber;
    beyond += other.beyond;
    if (std::fabs(other.farthest) > std::fabs(farthest))
        farthest = other.farthest;
}

// Welds the corners (and releases them). Result 1 when at least one valid
// triangle was made. A file with a facet beyond the coordinate limit is
// refused whole (a part of it would be a broken model); facets with a
// coordinate that is not a number are left out and counted.
int StlFileHandling::finishImport(topolib::StlObject& mesh, topolib::FacetImport& facets,
                                  const PassedOverFacets& passedOver) {
    if (passedOver.beyond > 0) {
        // The shortest text that reads back as the same float, with its sign
        // and without an exponent while one is not needed: -1000000.1, not a
        // rounding that looks inside the limit.
        const float far = passedOver.farthest;
        char farthest[64];
        const auto written =
            std::fabs(far) < 1e15f
                ? std::to_chars(farthest, farthest + sizeof farthest - 1, far, std::chars_format::fixed)
                : std::to_chars(farthest, farthest + sizeof farthest - 1, far);
        *written.ptr = '\0';
        addNote(std::to_string(passedOver.beyond) +
                (passedOver.beyond == 1 ? " facet reaches" : " facets reach") +
                " beyond the coordinate limit of ±" +
                std::to_string(static_cast<long>(topolib::kMaxImportCoordinate)) + " mm (a corner at " +
                farthest + " mm): the file is refused whole.");
        return kFailure;
    }
    using Clock = std::chrono::steady_clock;
    const auto weldStart = Clock::now();
    facets.weld();
    const auto weldEnd = Clock::now();
    timings_.readMs = std::chrono::duration<double, std::milli>(weldStart - readStart_).count();
    timings_.weldMs = std::chrono::duration<double, std::milli>(weldEnd - weldStart).count();
    if (passedOver.notANumber > 0)
        addNote(std::to_string(passedOver.notANumber) +
                (passedOver.notANumber == 1 ? " facet was" : " facets were") +
                " left out: a corner coordinate is not a number.");
    if (!hasValidTriangle(mesh)) {
        addNote("The file holds no valid facet.");
        return kFailure;
    }
    // The area field holds twice the area while the read runs.
    if (mesh.area() * 0.5 < kMinModelArea) {
        char area[32];
        std::snprintf(area, sizeof area, "%.3g", mesh.area() * 0.5);
        addNote("The facets enclose no area (" + std::string(area) + " mm² over " +
                std::to_string(mesh.facetCount()) + " facets): the file holds no model.");
        return kFailure;
    }
    return kSuccess;
}

uint64_t StlFileHandling::estimateMemory(KBaseStream*) {
    return static_cast<uint64_t>(countFacets()) * kBytesPerFacet;
}

uint32_t StlFileHandling::countFacets() const {
    std::ifstream in;
    if (!openRegularFile(in, fileName_) || in.peek() == std::char_traits<char>::eof())
        return 0;
    if (!isAsciiFile()) {
        char head[kBinaryHeader];
        in.read(head, kBinaryHeader);
        return in.gcount() == kBinaryHeader ? loadU32(head + 80) : 0;
    }
    uint32_t count = 0;
    std::string line;
    while (std::getline(in, line))
        if (line.find("endfacet") != std::string::npos)
            ++count;
    return count;
}

int StlFileHandling::readAscii() {
    std::ifstream in;
    if (!openRegularFile(in, fileName_))
        return kFailure;
    return readAsciiFrom(in);
}

int StlFileHandling::readAsciiFrom(std::istream& in) {
    if (!target_)
        return kFailure;
    topolib::StlObject& mesh = *target_;
    topolib::FacetImport facets(mesh, scratch_);
    timings_ = ReadTimings();
    readStart_ = std::chrono::steady_clock::now();
    notes_.clear();
    try {
        AsciiStlParser parser(in);
        if (!parser.readHeader())
            return kFailure;
        FacetBox box;
        float facet[12];
        PassedOverFacets passedOver;
        uint64_t parsed = 0;
        uint32_t untilCancelCheck = kRecordsPerBlock;
        while (parser.nextFacet(facet)) {
            ++parsed;
            if (--untilCancelCheck == 0) {
                if (cancelRequested())
                    return kCancelled;
                untilCancelCheck = kRecordsPerBlock;
            }
            if (!topolib::facetCornersUsable(facet)) {
                passedOver.add(facet);
                continue;
            }
            facets.addFacet(facet);
            box.add(facet);
        }
        if (cancelRequested())
            return kCancelled;
        if (!parser.error().empty()) {
            addNote(parser.error());
            return kFailure;
        }
        if (!parser.stop().empty())
            addNote(parser.stop() + " The " + std::to_string(parsed) +
                    (parsed == 1 ? " facet before it was" : " facets before it were") +
                    (parser.dataEnded() ? " read." : " read; the rest of the file was left out."));
        if (parser.badNormals() > 0)
            addNote(std::to_string(parser.badNormals()) +
                    (parser.badNormals() == 1 ? " facet has a normal that is not a number ("
                                              : " facets have a normal that is not a number (the first: ") +
                    parser.firstBadNormal() + "); normals are computed from the corners.");
        const int result = finishImport(mesh, facets, passedOver);
        finishSums(mesh, box);
        return result;
    } catch (const std::bad_alloc&) {
        // Out of memory (or of room for the mesh records) part way through.
        return kNotEnoughMemory;
    }
}

int StlFileHandling::readBinary() {
    std::ifstream in;
    if (!openRegularFile(in, fileName_))
        return kFailure;
    return readBinaryFrom(in);
}

namespace {

// Whether the memory check lets the arrays for `facets` facets be made.
bool memoryForFacets(uint32_t facets) {
    const double wanted = static_cast<double>(static_cast<uint64_t>(facets) * StlFileHandling::kBytesPerFacet) * 1.2;
    return MemoryCheckCallback && MemoryCheckCallback(static_cast<uint64_t>(wanted));
}

// Parses records [begin, end) of a block into facets, boxing the usable ones
// (box) and counting the others (passedOver).
void parseRecords(const char* bytes, std::size_t begin, std::size_t end, float* facets, FacetBox& box,
                  PassedOverFacets& passedOver) {
    FacetBox part; // in registers while the facets are written
    PassedOverFacets skipped;
    for (size_t r = begin; r < end; ++r) {
        float* facet = &facets[12 * r];
        for (size_t k = 0; k < 12; ++k)
            facet[k] = loadF32(bytes + kBinaryRecord * r + 4 * k);
        if (topolib::facetCornersUsable(facet))
            part.add(facet);
        else
            skipped.add(facet);
    }
    box = part;
    passedOver = skipped;
}

} // namespace

// One binary read between its passes: the input, what was read so far and the
// facets' running results, which go to the mesh when the read finishes.
struct StlFileHandling::BinaryRead {
    BinaryRead(std::istream& in, topolib::StlObject& mesh, uint32_t count, bool sized, uint32_t room,
               topolib::ImportSession* scratch)
        : in(in), mesh(mesh), count(count), sized(sized), room(room), facets(mesh, scratch) {}

    std::istream& in;
    topolib::StlObject& mesh;
    uint32_t count;      // records to read
    bool sized;          // the input's size is known (count is backed by it)
    uint32_t room;       // facets the arrays are reserved for
    uint32_t index = 0;  // records read
    bool ended = false;  // the input ended before `count` records
    FacetBox box;
    PassedOverFacets passedOver; // facets passed over for their coordinates
    topolib::FacetImport facets; // the mesh's side of the read

    // Reads up to `most` records from record `at` into `into`; the records
    // present, the last one counted when only its attribute bytes are missing.
    size_t readBlockAt(uint32_t at, char* into, uint32_t most) {
        const size_t want = static_cast<size_t>(std::min(count - at, most)) * kBinaryRecord;
        in.read(into, static_cast<std::streamsize>(want));
        const size_t got = static_cast<size_t>(in.gcount());
        size_t records = got / kBinaryRecord;
        if (got < want) {
            ended = true;
            if (got % kBinaryRecord >= kBinaryFacetBytes)
                ++records;
        }
        return records;
    }
};

int StlFileHandling::readBinaryFrom(std::istream& in) {
    if (!target_ || !in || in.peek() == std::char_traits<char>::eof())
        return kFailure;
    topolib::StlObject& mesh = *target_;
    timings_ = ReadTimings();
    readStart_ = std::chrono::steady_clock::now();
    notes_.clear();
    char head[kBinaryHeader];
    in.read(head, kBinaryHeader);
    if (in.gcount() != kBinaryHeader) {
        addNote("The file is shorter than the 84 bytes of a binary STL header.");
        return kFailure;
    }
    if (const char* encoding = wideTextEncoding(head)) {
        addNote("The file is ASCII STL saved as " + std::string(encoding) +
                " text; it can be read when saved as plain ASCII (or UTF-8) text.");
        return kFailure;
    }
    const uint32_t declared = loadU32(head + 80);
    uint32_t count = declared;
    // A count the data cannot back is cut to the records present, so that a
    // corrupt header neither reserves memory for nothing nor trips the
    // memory check. The last record may lack its two attribute bytes.
    const int64_t remaining = remainingBytes(in);
    const bool sized = remaining >= 0;
    const uint64_t present = sized ? (static_cast<uint64_t>(remaining) + 2) / kBinaryRecord : 0;
    if (sized)
        count = static_cast<uint32_t>(std::min<uint64_t>(count, present));
    if (count == 0) {
        addNote(declared == 0 ? std::string("The file declares no facets.")
                              : "The file declares " + std::to_string(declared) +
                                    " facets but its size holds none.");
        return kFailure;
    }
    count = std::min(count, facetLimit_);
    // Input without a size (a pipe) cannot back its count: the arrays grow in
    // steps with what arrives instead of being reserved for the count, and
    // each step passes the memory check.
    const uint32_t room = sized ? count : std::min(count, kUnsizedFirstStep);
    if (!memoryForFacets(room))
        return kNotEnoughMemory;

    mesh.setName(std::string(head, std::find(head, head + 80, '\0')));

    try {
        BinaryRead read(in, mesh, count, sized, room, scratch_);
        // Big files: blocks of records are parsed, boxed and turned into
        // triangles on several threads (the same triangles, corners and sums).
        const unsigned threads = sized ? topolib::FacetImport::threadsFor(count) : 1;
        BlockBuffers buffers(threads > 1 ? std::min(count, recordsPerParallelBlock(threads)) : 0);
        read.facets.reserve(room, count, threads, sized);
        const ProgressMonitor& progress = monitorOrDialog(progress_);
        progress.start(ProgressText::ImportingObject, mesh.getFilePath());
        progress.report(0.0);
        int result = threads > 1 ? readBinaryBlocksOnThreads(read, buffers, threads, progress) : kSuccess;
        buffers = BlockBuffers(0); // given back before the weld, which needs room of its own
        if (result == kSuccess)
            result = readBinaryBlocks(read, threads > 1 ? 0 : std::min(count, kRecordsPerBlock), progress);
        if (result != kSuccess)
            return result;
        read.facets.stopMapping();
        if (cancelRequested())
            return kCancelled;
        result = finishImport(mesh, read.facets, read.passedOver);
        progress.report(0.6);
        finishSums(mesh, read.box);
        return checkBinaryCount(read, declared, present, result);
    } catch (const std::bad_alloc&) {
        // Out of memory (or of room for the mesh records) part way through.
        return kNotEnoughMemory;
    }
}

uint32_t StlFileHandling::recordsPerParallelBlock(unsigned threads) {
    return kRecordsPerThreadInBlock * std::min(std::max(threads, 1u), 8u);
}

// The block buffers of a read on several threads: the block being parsed, the
// block read ahead meanwhile, and the parsed facets of the block being parsed
// and of the block before, whose triangles are made meanwhile. Filled before
// they are read: no clearing of any.
StlFileHandling::BlockBuffers::BlockBuffers(size_t records) : records(records) {
    if (records == 0)
        return;
    bytes.reset(new char[records * kBinaryRecord]);
    ahead.reset(new char[records * kBinaryRecord]);
    facets.reset(new float[records * 12]);
    facetsAhead.reset(new float[records * 12]);
}

// Reads the records block by block on `threads` threads. Each pass makes the
// triangles of the block before (each thread the part it parsed, its facets
// still in its cache) and parses and decides this block, while the next
// block's bytes are read on a thread of their own. kSuccess, or kCancelled.
int StlFileHandling::readBinaryBlocksOnThreads(BinaryRead& read, BlockBuffers& buffers, unsigned threads,
                                               const ProgressMonitor& progress) {
    std::vector<FacetBox> boxes(threads);
    std::vector<PassedOverFacets> passedOverParts(threads);
    uint32_t readIndex = read.index; // records read so far
    auto readNext = [&](char* into) {
        const size_t records = read.readBlockAt(readIndex, into, static_cast<uint32_t>(buffers.records));
        readIndex += static_cast<uint32_t>(records);
        return records;
    };
    read.facets.startBlocks(buffers.records, threads);
    // The pass over a block read: the triangles of the block before made,
    // this block parsed and taken.
    auto passOver = [&](size_t records) {
        float* const facets = buffers.facets.get();
        const char* const bytes = buffers.bytes.get();
        read.facets.takeParsedBlock(facets, records, [&](unsigned part, std::size_t begin, std::size_t end) {
            parseRecords(bytes, begin, end, facets, boxes[part], passedOverParts[part]);
        });
        for (const FacetBox& part : boxes)
            read.box.merge(part);
        for (const PassedOverFacets& part : passedOverParts)
            read.passedOver.merge(part);
        // The taken block's facets stay while the next block is parsed
        // into the other buffer.
        std::swap(buffers.facets, buffers.facetsAhead);
    };
    try {
        size_t records = readNext(buffers.bytes.get());
        while (records > 0) {
            const bool more = !read.ended && readIndex < read.count;
            size_t nextRecords = 0;
            std::thread reader;
            // Joined however the pass ends.
            struct Joined {
                std::thread& thread;
                ~Joined() {
                    if (thread.joinable())
                        thread.join();
                }
            } joined{reader};
            if (more) {
                try {
                    reader = std::thread([&] { nextRecords = readNext(buffers.ahead.get()); });
                } catch (const std::system_error&) {
                    // read after this block instead
                }
            }
            const bool cancel = cancelRequested();
            if (!cancel)
                passOver(records);
            if (reader.joinable())
                reader.join();
            else if (more && !cancel)
                nextRecords = readNext(buffers.ahead.get());
            if (cancel) {
                read.facets.finishBlocks(true);
                read.facets.stopMapping();
                return kCancelled;
            }
            read.index += static_cast<uint32_t>(records);
            progress.report(static_cast<int>(uint64_t(read.index) * kProgressSteps / read.count) / 100.0);
            std::swap(buffers.bytes, buffers.ahead);
            records = nextRecords;
        }
        read.facets.finishBlocks(true);
        return kSuccess;
    } catch (...) {
        // No triangle is left half made: made on this thread, which takes no
        // memory.
        read.facets.finishBlocks(false);
        throw;
    }
}

// Reads the records left, `blockRecords` at a time, on this thread: each
// block is parsed, then its facets taken; the arrays of input without a size
// grow as records arrive. kSuccess, kCancelled or kNotEnoughMemory.
int StlFileHandling::readBinaryBlocks(BinaryRead& read, uint32_t blockRecords, const ProgressMonitor& progress) {
    const uint32_t count = read.count;
    const uint32_t progressEvery = count / kProgressSteps;
    uint32_t progressCounter = 0;
    std::vector<char> block(static_cast<size_t>(blockRecords) * kBinaryRecord);
    // Records are parsed a few at a time into facets that stay in the
    // nearest cache until they are taken.
    float facets[12 * kRecordsParsedAtOnce];
    while (read.index < count && !read.ended) {
        if (cancelRequested()) {
            read.facets.stopMapping();
            return kCancelled;
        }
        const size_t records = read.readBlockAt(read.index, block.data(), kRecordsPerBlock);
        if (!read.sized && read.index + records > read.room) {
            const uint32_t grown = static_cast<uint32_t>(
                std::min<uint64_t>(count, std::max<uint64_t>(uint64_t(read.room) * 2, read.index + records)));
            if (!memoryForFacets(grown))
                return kNotEnoughMemory;
            read.facets.grow(grown);
            read.room = grown;
        }
        const char* record = block.data();
        for (size_t done = 0; done < records;) {
            const size_t now = std::min<size_t>(records - done, kRecordsParsedAtOnce);
            size_t usable = 0;
            for (size_t r = 0; r < now; ++r, ++read.index, record += kBinaryRecord) {
                if (++progressCounter > progressEvery) {
                    progress.report(static_cast<int>(uint64_t(read.index) * kProgressSteps / count) / 100.0);
                    progressCounter = 0;
                }
                float* facet = &facets[12 * usable];
                for (int k = 0; k < 12; ++k)
                    facet[k] = loadF32(record + 4 * k);
                if (topolib::facetCornersUsable(facet)) {
                    read.box.add(facet);
                    ++usable;
                } else {
                    read.passedOver.add(facet);
                }
            }
            read.facets.addFacets(facets, usable);
            done += now;
        }
        read.facets.endBlock();
    }
    return kSuccess;
}

// The count of a binary file and its size must agree, the file must still
// hold its records while they are read, and every record it declares must be
// read; input without a size disagrees when it ends early. Notes a
// disagreement or a count cut to the facet limit, and fails a file of which
// fewer than half the records read make valid triangles (not binary STL at
// all). Returns `result` otherwise.
int StlFileHandling::checkBinaryCount(const BinaryRead& read, uint32_t declared, uint64_t present, int result) {
    // The input ended before the records its size held when the read began.
    const bool shrank = read.sized && read.index < read.count;
    // The facet limit, not the data, ended the read.
    const bool limited = !shrank && read.count == facetLimit_ && declared > facetLimit_ &&
                         (read.sized ? present > facetLimit_ : !read.ended);
    const uint64_t holds = read.sized ? present : read.index;
    if (!shrank && !limited && (read.sized ? declared == present : !read.ended))
        return result;
    const std::string declares = "declares " + std::to_string(declared) + " facets";
    const std::string sizeHolds = ", its size holds " + std::to_string(holds);
    const topolib::StlObject& mesh = read.mesh;
    if (mesh.facetCount() * 2 < static_cast<uint64_t>(read.index)) {
        notes_.clear();
        addNote("This is not a binary STL file: it " + declares + sizeHolds + ", and only " +
                std::to_string(mesh.facetCount()) + " of them make valid triangles.");
        return kFailure;
    }
    const std::string taken = std::to_string(read.index);
    std::string note = "The file " + declares;
    if (shrank)
        note += ", its size held " + std::to_string(present) + " when the read began, but it ended after " +
                taken + " (it shrank while it was read)";
    else if (!limited || (read.sized && declared != present))
        note += sizeHolds;
    if (limited)
        note += ", more than the " + std::to_string(facetLimit_) + " one file may bring";
    notes_.insert(notes_.begin(), note + "; " + taken + " facets were read.");
    return result;
}

namespace {

template <typename Writer>
void addLiveTriangles(Writer& writer, const topolib::StlObject& mesh) {
    for (const topolib::StlTriangle* t : mesh.triangles())
        if (t && !t->isDeleted())
            writer.addFacet(t->normalData(), t->vertices[0]->pos.data(), t->vertices[1]->pos.data(),
                            t->vertices[2]->pos.data());
}

} // namespace

int StlFileHandling::writeAscii() {
    return writeAsciiMesh(fileName_);
}

int StlFileHandling::writeBinary() {
    return writeBinaryMesh(fileName_);
}

int StlFileHandling::writeAsciiMesh(const std::wstring& fileName) {
    if (!target_)
        return kFailure;
    AsciiStlWriter writer(fileName);
    if (!writer.isOpen())
        return kFailure;
    writer.begin();
    addLiveTriangles(writer, *target_);
    return writer.finish() ? kSuccess : kFailure;
}

int StlFileHandling::writeBinaryMesh(const std::wstring& fileName) {
    if (!target_)
        return kFailure;
    BinaryStlWriter writer(fileName);
    if (!writer.isOpen())
        return kFailure;
    uint32_t live = 0;
    for (const topolib::StlTriangle* t : target_->triangles())
        if (t && !t->isDeleted())
            ++live;
    writer.begin(target_->getName(), live);
    addLiveTriangles(writer, *target_);
    return writer.finish() ? kSuccess : kFailure;
}

} // namespace fileIo
