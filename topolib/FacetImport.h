#pragma once
// The mesh's side of reading loose facets: a reader parses records into
// facets (twelve floats in STL order) and hands them to a FacetImport, which
// makes the triangles and their corners, keeps the sums, and welds the
// corners at the end. Everything the mesh needs meanwhile (the corner array,
// the counts for the weld's sort, the pages mapped ahead, the blocks of a
// read on several threads) is the session's; the reader sees none of it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace topolib {

class ImportSession;
class StlObject;

class FacetImport {
public:
    // A session on the empty `mesh`; it splits its steps over threads by one
    // reading of the machine's load, taken now. Used by one thread. The weld
    // leaves what the edge build takes next in `scratch` (the load's own,
    // StlObject::loadFromFile; may be null: nothing is handed over).
    explicit FacetImport(StlObject& mesh, ImportSession* scratch = nullptr);
    ~FacetImport();
    FacetImport(const FacetImport&) = delete;
    FacetImport& operator=(const FacetImport&) = delete;

    // ---- Facet by facet (text files) -------------------------------------
    // Takes one facet (see StlObject::addFacet). The triangle array grows in
    // steps that grow with the mesh; the point the sums are taken against is
    // the first corner of the facet read while no facet has made a triangle.
    // The caller has checked the corners (facetCornersUsable).
    void addFacet(const float facet[12]);

    // ---- Blocks of facets (binary files) ---------------------------------
    // Threads a read of `count` facets from input of known size runs on.
    static unsigned threadsFor(uint32_t count);
    // Makes room for `room` facets. A read of `count` facets on one thread
    // counts the corners for the weld's sort as they are made (large meshes)
    // and, when the input's size is known (`sized`), maps the arrays' pages
    // ahead on helper threads.
    void reserve(uint32_t room, uint32_t count, unsigned threads, bool sized);
    // Makes room for `room` facets in all (input whose size is not known).
    void grow(uint32_t room);
    // Takes facets [0, count) of `facets` in order on this thread; the caller
    // has passed over those whose corners are not usable (facetCornersUsable).
    // The point the sums are taken against is the first corner of the first
    // facet taken. Their normals
    // and sums wait for endBlock, which does a block of facets (some thousand)
    // at once while they are in the cache.
    void addFacets(const float* facets, std::size_t count);
    void endBlock();
    // Reads of blocks on `threads` threads: blocks of up to `records` facets,
    // each pass making the triangles of the block before while this block is
    // parsed. `parse(part, begin, end)` writes facets [begin, end) of the
    // block into `facets`, on the part's thread. The facets of a block must
    // stay until the next call of takeParsedBlock or finishBlocks.
    using Parse = std::function<void(unsigned part, std::size_t begin, std::size_t end)>;
    void startBlocks(std::size_t records, unsigned threads);
    void takeParsedBlock(const float* facets, std::size_t count, const Parse& parse);
    // Makes the triangles of the last block, on the block threads or (after
    // a failure, which must not take memory) on this thread, and gives the
    // blocks' room back.
    void finishBlocks(bool onThreads);
    // Stops mapping pages ahead (before the weld, or when the read ends early).
    void stopMapping();

    // ---- The end --------------------------------------------------------
    // Welds the corners into vertices and gives their room back.
    void weld();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace topolib
