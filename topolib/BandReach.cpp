// Reach below a height band, for many questions at once: a sweep upwards
// through the heights joins the vertices below each question's band into
// pieces; a question steps from its seeds and judges each piece it meets by the
// piece's lowest vertex.
#include "topolib/BandReach.h"

#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <numeric>

namespace topolib {

namespace {

constexpr uint32_t kNone = BandReach::kNoTag;

} // namespace

BandReach::BandReach(StlObject& mesh, bool skipDeleted) {
    const auto& vertices = mesh.vertices();
    m_count = vertices.size();
    m_usable = m_count < kNone;
    for (std::size_t i = 0; i < m_count && m_usable; ++i) {
        const StlVertex* v = vertices[i];
        m_usable = v == nullptr || (v->index >= 0 && static_cast<std::size_t>(v->index) == i);
    }
    if (!m_usable)
        return;
    // The steps, read in the order the records lie in memory: the sweep later
    // visits the vertices by height, in no order the records keep.
    m_z.resize(m_count);
    m_first.assign(m_count + 1, 0);
    m_next.reserve(6 * m_count);
    for (std::size_t i = 0; i < m_count && m_usable; ++i) {
        m_first[i] = m_next.size();
        const StlVertex* v = vertices[i];
        if (v == nullptr) {
            m_z[i] = std::nan("");
            continue;
        }
        m_z[i] = v->z();
        for (const StlTriangle* t : *v) {
            if (skipDeleted && t->isDeleted())
                continue;
            for (const StlVertex* w : t->vertices) {
                if (w == v)
                    continue;
                const uint32_t j = indexOf(w);
                m_usable = m_usable && j != kNone;
                m_next.push_back(j);
            }
        }
        std::sort(m_next.begin() + static_cast<std::ptrdiff_t>(m_first[i]), m_next.end());
        m_next.erase(std::unique(m_next.begin() + static_cast<std::ptrdiff_t>(m_first[i]), m_next.end()),
                     m_next.end());
    }
    m_first[m_count] = m_next.size();
    m_excluded.assign(m_count, 0);
    m_rank.assign(m_count, kNone);
    m_lowerFirst.assign(1, 0);
}

// The vertex's place in the mesh's vertex array, which its index names (checked
// for every listed vertex when the object was made); kNone for a vertex that
// names no place.
uint32_t BandReach::indexOf(const StlVertex* v) const {
    if (v == nullptr || v->index < 0 || static_cast<std::size_t>(v->index) >= m_count)
        return kNone;
    return static_cast<uint32_t>(v->index);
}

bool BandReach::exclude(const StlVertex* v) {
    const uint32_t i = m_usable ? indexOf(v) : kNone;
    if (i == kNone)
        return false;
    m_excluded[i] = 1;
    return true;
}

uint32_t BandReach::setTag(const StlVertex* v, uint32_t tag) {
    const uint32_t i = m_usable ? indexOf(v) : kNone;
    if (i == kNone)
        return kNone;
    if (m_tag.empty())
        m_tag.assign(m_count, kNone);
    if (m_tag[i] == kNone)
        m_tag[i] = tag;
    return m_tag[i];
}

// Ranks the vertices lower than top that have no rank yet, after those ranked
// before (all of them lower), and lists each one's neighbours of lower rank.
void BandReach::rankUpTo(double top) {
    if (!(top > m_top))
        return;
    m_top = top;
    const std::size_t from = m_rising.size();
    for (std::size_t i = 0; i < m_count; ++i) {
        if (m_rank[i] == kNone && m_z[i] < top)
            m_rising.emplace_back(m_z[i], static_cast<uint32_t>(i));
    }
    std::sort(m_rising.begin() + static_cast<std::ptrdiff_t>(from), m_rising.end());
    const std::size_t to = m_rising.size();
    for (std::size_t r = from; r < to; ++r)
        m_rank[m_rising[r].second] = static_cast<uint32_t>(r);
    // Counted and filled in the order of the vertex array, where neighbours lie
    // near each other; an unranked neighbour's rank (kNone) is no lower.
    std::vector<uint32_t> fill(to - from, 0);
    for (std::size_t i = 0; i < m_count; ++i) {
        const uint32_t r = m_rank[i];
        if (r == kNone || r < from)
            continue;
        for (std::size_t k = m_first[i]; k < m_first[i + 1]; ++k)
            fill[r - from] += m_rank[m_next[k]] < r ? 1 : 0;
    }
    m_lowerFirst.resize(to + 1);
    for (std::size_t r = from; r < to; ++r)
        m_lowerFirst[r + 1] = m_lowerFirst[r] + fill[r - from];
    m_lower.resize(m_lowerFirst[to]);
    std::fill(fill.begin(), fill.end(), 0u);
    for (std::size_t i = 0; i < m_count; ++i) {
        const uint32_t r = m_rank[i];
        if (r == kNone || r < from)
            continue;
        for (std::size_t k = m_first[i]; k < m_first[i + 1]; ++k) {
            const uint32_t s = m_rank[m_next[k]];
            if (s < r)
                m_lower[m_lowerFirst[r] + fill[r - from]++] = s;
        }
    }
}

uint32_t BandReach::find(uint32_t r) {
    while (m_node[r].parent != r) {
        const uint32_t up = m_node[m_node[r].parent].parent;
        m_node[r].parent = up;
        r = up;
    }
    return r;
}

namespace {

// The two lowest of the candidates with distinct tags.
void keepTwoLowest(double z, uint32_t tag, double& z1, uint32_t& tag1, double& z2, uint32_t& tag2) {
    if (tag == kNone)
        return;
    if (z < z1) {
        if (tag != tag1) {
            z2 = z1;
            tag2 = tag1;
        }
        z1 = z;
        tag1 = tag;
    } else if (tag != tag1 && z < z2) {
        z2 = z;
        tag2 = tag;
    }
}

} // namespace

// Joins the vertex of rank r to the pieces of its neighbours of lower rank.
void BandReach::add(uint32_t r) {
    const uint32_t tag = m_tag.empty() ? kNone : m_tag[m_rising[r].second];
    Node& n = m_node[r];
    n.parent = r;
    n.size = 1;
    if (tag == kNone)
        n.lowZ = m_rising[r].first;
    else
        m_taggedLow[r] = TaggedLow{m_rising[r].first, tag, HUGE_VAL, kNone};
    for (std::size_t k = m_lowerFirst[r]; k < m_lowerFirst[r + 1]; ++k) {
        const uint32_t s = m_lower[k];
        if (m_node[s].parent == kNone)
            continue; // excluded
        uint32_t a = find(r), b = find(s);
        if (a == b)
            continue;
        if (m_node[a].size < m_node[b].size)
            std::swap(a, b);
        m_node[b].parent = a;
        m_node[a].size += m_node[b].size;
        m_node[a].lowZ = std::min(m_node[a].lowZ, m_node[b].lowZ);
        if (!m_taggedLow.empty()) {
            TaggedLow& big = m_taggedLow[a];
            const TaggedLow& small = m_taggedLow[b];
            keepTwoLowest(small.z1, small.tag1, big.z1, big.tag1, big.z2, big.tag2);
            keepTwoLowest(small.z2, small.tag2, big.z1, big.tag1, big.z2, big.tag2);
        }
    }
}

// The lowest height in the piece of the root that the question counts.
double BandReach::lowestCounted(uint32_t root, const Question& q) const {
    double z = m_node[root].lowZ;
    if (!m_taggedLow.empty()) {
        const TaggedLow& t = m_taggedLow[root];
        z = std::min(z, q.ownTag != kNone && t.tag1 == q.ownTag ? t.z2 : t.z1);
    }
    return z;
}

// Reaches vertex i; true when it is, or its piece holds, a vertex below the
// question's lower height that counts.
bool BandReach::reach(uint32_t i, const Question& q) {
    if (m_excluded[i])
        return false;
    const double z = m_z[i];
    if (z < q.lower && !own(i, q))
        return true;
    if (!(z < q.upper))
        return false;
    // Every vertex in the band has joined by now.
    const uint32_t root = find(m_rank[i]);
    if (m_node[root].seen == m_stamp)
        return false;
    m_node[root].seen = m_stamp;
    return lowestCounted(root, q) < q.lower;
}

BandReach::Answer BandReach::answerOne(const Question& q, const std::vector<StlVertex*>& seeds) {
    if (++m_stamp == 0) {
        for (Node& n : m_node)
            n.seen = 0;
        m_stamp = 1;
    }
    if (q.firstSeed > seeds.size() || q.seedCount > seeds.size() - q.firstSeed)
        return Answer::Unanswered;
    for (std::size_t k = 0; k < q.seedCount; ++k) {
        const uint32_t i = indexOf(seeds[q.firstSeed + k]);
        if (i == kNone || m_z[i] < q.lower)
            return Answer::Unanswered;
    }
    // Every seed carries the walk on, whatever its height.
    for (std::size_t k = 0; k < q.seedCount; ++k) {
        const uint32_t s = indexOf(seeds[q.firstSeed + k]);
        for (std::size_t n = m_first[s]; n < m_first[s + 1]; ++n) {
            if (reach(m_next[n], q))
                return Answer::Reached;
        }
    }
    return Answer::NotReached;
}

std::vector<BandReach::Answer> BandReach::answer(const std::vector<Question>& questions,
                                                 const std::vector<StlVertex*>& seeds) {
    std::vector<Answer> answers(questions.size(), Answer::Unanswered);
    if (!m_usable || questions.empty())
        return answers;
    // Questions by rising band; a band that is not a number holds nothing and
    // goes first.
    std::vector<std::size_t> order(questions.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    auto key = [&](std::size_t k) {
        const double u = questions[k].upper;
        return std::isnan(u) ? -HUGE_VAL : u;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return key(a) < key(b); });

    // The vertices that some band holds, by rising height.
    rankUpTo(key(order.back()));
    m_node.assign(m_rising.size(), Node());
    if (!m_tag.empty())
        m_taggedLow.assign(m_rising.size(), TaggedLow());
    m_stamp = 0;
    std::vector<uint8_t> gone(m_rising.size(), 0);
    for (std::size_t i = 0; i < m_count; ++i) {
        if (m_excluded[i] && m_rank[i] != kNone)
            gone[m_rank[i]] = 1;
    }

    uint32_t next = 0;
    for (std::size_t k : order) {
        const Question& q = questions[k];
        for (; next < m_rising.size() && m_rising[next].first < q.upper; ++next) {
            if (!gone[next])
                add(next);
        }
        answers[k] = answerOne(q, seeds);
    }
    return answers;
}

} // namespace topolib
