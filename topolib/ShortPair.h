#pragma once

#include <cstdint>

namespace topolib {

class StlVertex;

// The segment that a crossing leaves on the second mesh of a cut: two vertices of
// that mesh and the segment flags of the cutter, all clear when made.
struct ShortPair {
    StlVertex* a = nullptr;
    StlVertex* b = nullptr;
    uint32_t flags = 0;
};

} // namespace topolib
