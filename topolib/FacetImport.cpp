#include "topolib/FacetImport.h"

#include "topolib/CornerCensus.h"
#include "topolib/FacetBlocks.h"
#include "topolib/HugePageAdvice.h"
#include "topolib/ParallelRuns.h"
#include "topolib/StlObject.h"

#include <algorithm>
#include <cassert>
#include <optional>
#include <utility>
#include <vector>

namespace topolib {

struct FacetImport::State {
    State(StlObject& m, ImportSession* s) : mesh(m), scratch(s) {}
    StlObject& mesh;
    ImportSession* const scratch; // what the weld hands to the edge build
    const ImportLoadReading load;
    std::vector<FacetCorner> corners;
    uint32_t cornerCounter = 0;
    double reference[3] = {0, 0, 0};
    bool haveReference = false;
    uint64_t room = 0; // facet by facet: triangles the array has room for
    std::size_t blockStart = 0; // the first triangle of the block endBlock ends
    // The corners made facet by facet (on this thread), counted for the
    // parts of the weld's sort (takeCensus; no bins unless it is taken).
    // Given to the weld when a binary read made it.
    std::optional<CornerCensus> census;
    bool takeCensus = false;
    // Maps the corner and triangle arrays' pages ahead while they are filled.
    PagePopulator populator;
    // Two blocks in turn: the one settled in the last pass, whose triangles
    // the next pass makes (null when there is none), and the one parsed.
    std::vector<FacetBlock> blocks;
    FacetBlock* settled = nullptr;
    unsigned threads = 1;

    void takeReference(const float* facet) {
        for (std::size_t k = 0; k < 3; ++k)
            reference[k] = facet[3 + k];
        haveReference = true;
    }
    // Once its triangles are made: the settled block's sums, and no block settled.
    void sumSettled() {
        settled->sumFacets(mesh, &cornerCounter);
        settled = nullptr;
    }
};

FacetImport::FacetImport(StlObject& mesh, ImportSession* scratch)
    : m_state(std::make_unique<State>(mesh, scratch)) {}

FacetImport::~FacetImport() = default;

void FacetImport::addFacet(const float facet[12]) {
    State& s = *m_state;
    if (s.corners.empty())
        for (int k = 0; k < 3; ++k)
            s.reference[k] = facet[3 + k];
    // The triangle array grows ahead of the facets; steps grow with the
    // mesh so that a million facets cost a few dozen reallocations.
    if (s.mesh.triangleCount() >= s.room) {
        const uint32_t step = static_cast<uint32_t>(std::max<uint64_t>(1000, s.room / 2));
        s.mesh.reserveTriangles(step);
        s.room = s.mesh.triangleCount() + static_cast<uint64_t>(step);
    }
    s.mesh.addFacet(&s.cornerCounter, s.reference, facet, s.corners, true);
}

unsigned FacetImport::threadsFor(uint32_t count) {
    return importThreadsFromFour(count);
}

// The corners are appended facet by facet into the reserved room (no
// clearing pass over the whole array). A read on one thread of input of known
// size has the pages of the corner and triangle arrays and of the triangle
// records mapped ahead on helper threads (only when the arrays will not grow
// under them); every array is mapped before such a helper starts, as mapping
// (and advising) waits for the piece a helper is working on. A read on
// several threads leaves each thread to map the pages it fills: the system
// maps pages for several threads at once, and a single helper ahead of them
// only held them up.
void FacetImport::reserve(uint32_t room, uint32_t count, unsigned threads, bool sized) {
    State& s = *m_state;
    // Read on one thread, the corners are counted for the sort's parts as
    // they are made; a read on threads leaves the count to the sort, and a
    // small mesh's sort needs none.
    const std::size_t corners = 3 * std::size_t(count);
    s.takeCensus = threads == 1 && corners >= kGroupSortFrom;
    s.census.emplace(s.takeCensus ? CornerCensus(importThreads(corners), corners) : CornerCensus(0));
    const bool mapAhead = threads == 1;
    s.corners.reserve(static_cast<std::size_t>(room) * 3);
    s.mesh.reserveTriangles(room, mapAhead);
    s.room = room;
    if (sized && mapAhead)
        s.populator.start({{s.corners.data(), s.corners.capacity() * sizeof(FacetCorner)},
                           {s.mesh.triangles().data(), s.mesh.triangleCapacity() * sizeof(StlTriangle*)}});
}

void FacetImport::grow(uint32_t room) {
    State& s = *m_state;
    s.mesh.reserveTriangles(static_cast<uint32_t>(room - s.room));
    s.corners.reserve(static_cast<std::size_t>(room) * 3);
    s.room = room;
}

void FacetImport::addFacets(const float* facets, std::size_t count) {
    State& s = *m_state;
    for (std::size_t r = 0; r < count; ++r) {
        const float* facet = facets + 12 * r;
        assert(facetCornersUsable(facet));
        if (!s.haveReference)
            s.takeReference(facet);
        const uint32_t made = s.cornerCounter;
        s.mesh.addFacet(&s.cornerCounter, s.reference, facet, s.corners, true, true);
        if (s.takeCensus)
            s.census->add(s.corners.data() + made, s.cornerCounter - made);
    }
}

void FacetImport::endBlock() {
    State& s = *m_state;
    // The block's triangles and corners are in the cache still.
    setLaterNormals(s.mesh, s.blockStart, s.corners, s.reference);
    s.blockStart = s.mesh.triangles().size();
}

void FacetImport::startBlocks(std::size_t records, unsigned threads) {
    State& s = *m_state;
    s.threads = threads;
    s.blocks.clear();
    s.blocks.emplace_back(records, threads);
    s.blocks.emplace_back(records, threads);
    s.settled = nullptr;
}

void FacetImport::takeParsedBlock(const float* facets, std::size_t count, const Parse& parse) {
    State& s = *m_state;
    FacetBlock& block = s.settled == &s.blocks[0] ? s.blocks[1] : s.blocks[0];
    block.start(facets, count);
    runOnThreads(s.threads, [&](unsigned t) {
        if (s.settled)
            s.settled->makeFacets(s.mesh, s.corners, t);
        block.decideFacets(parse, t);
    });
    if (s.settled)
        s.sumSettled();
    for (std::size_t r = 0; r < count && !s.haveReference; ++r)
        if (facetCornersUsable(&facets[12 * r]))
            s.takeReference(&facets[12 * r]);
    if (block.settleFacets(s.mesh, s.reference, s.corners) > 0)
        s.settled = &block;
}

void FacetImport::finishBlocks(bool onThreads) {
    State& s = *m_state;
    if (s.settled) {
        if (onThreads)
            runOnThreads(s.threads, [&](unsigned t) { s.settled->makeFacets(s.mesh, s.corners, t); });
        else
            for (unsigned t = 0; t < s.threads; ++t)
                s.settled->makeFacets(s.mesh, s.corners, t);
        s.sumSettled();
    }
    // Given back before the weld, which needs room of its own.
    std::vector<FacetBlock>().swap(s.blocks);
}

void FacetImport::stopMapping() {
    m_state->populator.stop();
}

void FacetImport::weld() {
    State& s = *m_state;
    s.populator.stop();
    s.mesh.weldFacetCorners(s.corners, s.census ? &*s.census : nullptr, s.scratch);
    std::vector<FacetCorner>().swap(s.corners);
}

} // namespace topolib
