#pragma once

// Many questions of one kind about one mesh, answered together: can a vertex
// lower than `lower` be reached from some seed vertices, stepping from a vertex
// to the other vertices of its triangles, where the walk carries on only from
// the seeds and from vertices lower than `upper` (a height band)? The supports
// ask it once per vertex (is this pit the lowest place around?) and once per
// small overhang region (does its rim lead further down?). One flood per
// question covers a nearly flat surface again for every question, which grows
// with the square of the facets; here one sweep upwards through the heights
// joins the vertices below each question's band into pieces (union-find), and
// a question looks at the lowest vertex of each piece its seeds lead to.
//
// The answer is that of a flood that never steps onto an excluded vertex and
// steps through, but does not count as the lower place, the vertices that carry
// the question's own tag (a region's inside, which its own walk cannot reach
// but the pieces hold). Marks are neither read nor written.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace topolib {

class StlObject;
class StlVertex;

class BandReach {
public:
    static constexpr uint32_t kNoTag = 0xFFFFFFFFu;

    // One question. The seeds are reached from the start, whatever their height,
    // and never count as the lower place themselves.
    struct Question {
        std::size_t firstSeed = 0; // the seeds: seeds[firstSeed, firstSeed + seedCount)
        std::size_t seedCount = 0;
        double lower = 0.0;
        double upper = 0.0;
        uint32_t ownTag = kNoTag;
    };
    // Unanswered: a seed lies below its lower height (the flood never tests the
    // seeds).
    enum class Answer : int8_t { NotReached = 0, Reached = 1, Unanswered = -1 };

    // The walk steps through the triangles in each vertex's incident list; with
    // skipDeleted, deleted triangles join nothing. The steps are read from the
    // mesh once, here; the mesh must not change while the object lives.
    BandReach(StlObject& mesh, bool skipDeleted);

    // False when the mesh's vertex records are not numbered by their place in its
    // vertex array, or a triangle names a vertex that is not: nothing can be
    // answered then.
    bool usable() const { return m_usable; }

    // v is never reached from now on, unless it is a seed. False when v is not a
    // vertex of the mesh.
    bool exclude(const StlVertex* v);
    // Tags v unless it carries a tag already. Returns the tag v carries afterwards,
    // kNoTag when v is not a vertex of the mesh.
    uint32_t setTag(const StlVertex* v, uint32_t tag);

    // The answer to every question, in the questions' order, with the exclusions
    // and tags set so far.
    std::vector<Answer> answer(const std::vector<Question>& questions, const std::vector<StlVertex*>& seeds);

private:
    uint32_t indexOf(const StlVertex* v) const;
    bool own(uint32_t i, const Question& q) const {
        return q.ownTag != kNoTag && !m_tag.empty() && m_tag[i] == q.ownTag;
    }
    struct Node;
    struct TaggedLow;
    double lowestCounted(uint32_t root, const Question& q) const;
    void rankUpTo(double top);
    uint32_t find(uint32_t r);
    void add(uint32_t r);
    Answer answerOne(const Question& q, const std::vector<StlVertex*>& seeds);
    bool reach(uint32_t i, const Question& q);

    bool m_usable = true;
    std::size_t m_count = 0;
    // Per vertex (by its place in the mesh's array): height, neighbours, rank.
    std::vector<double> m_z;
    std::vector<std::size_t> m_first; // where the vertex's neighbours start in m_next (one entry more)
    std::vector<uint32_t> m_next;     // the neighbours of every vertex, each once
    std::vector<uint32_t> m_rank;     // the vertex's place in m_rising; kNoTag above m_top
    std::vector<uint8_t> m_excluded;
    std::vector<uint32_t> m_tag; // once a tag is set
    // Per rank: the vertices lower than m_top by rising height, and each one's
    // neighbours of lower rank (the sweep reads them in this order).
    std::vector<std::pair<double, uint32_t>> m_rising;
    double m_top = -HUGE_VAL;
    std::vector<std::size_t> m_lowerFirst; // one entry more
    std::vector<uint32_t> m_lower;
    // Per rank, what the sweep keeps of the vertex (one cache line holds several).
    struct Node {
        uint32_t parent = kNoTag; // kNoTag until the vertex joins the pieces
        uint32_t size = 0;        // of a root: the piece's vertex count
        uint32_t seen = 0;        // of a root: the question that last met the piece
        double lowZ = HUGE_VAL;   // of a root: the height of its lowest untagged vertex
    };
    // Per rank, once tags are set: of a root, the lowest tagged vertex and the
    // lowest whose tag differs from that one's, so that a question can pass over
    // the vertices of its own tag.
    struct TaggedLow {
        double z1 = HUGE_VAL;
        uint32_t tag1 = kNoTag;
        double z2 = HUGE_VAL;
        uint32_t tag2 = kNoTag;
    };
    std::vector<Node> m_node;
    std::vector<TaggedLow> m_taggedLow;
    uint32_t m_stamp = 0;
};

} // namespace topolib
