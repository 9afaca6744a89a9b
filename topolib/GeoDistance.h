#pragma once

#include <deque>
#include <unordered_map>

namespace topolib {

class StlTriangle;
class StlVertex;
class GeoDistanceVertex;

// The reached vertices of one geodesic search, owned by the search for its run.
// Keyed by address rather than a vector over the vertex indices: a search
// usually stops within a small neighbourhood of its source, and a table sized by
// the mesh would cost a pass over every vertex for each hole. The records keep
// their address while others are added, which relaxTriangle relies on.
using GeoDistanceTable = std::unordered_map<const StlVertex*, GeoDistanceVertex>;

// Geodesic bookkeeping of the hole filler for one reached vertex: the vertex it
// was reached from and the distance along the surface.
class GeoDistanceVertex {
public:
    StlVertex* predecessor = nullptr;
    double distance = 0.0;

    // One step of the geodesic distance propagation over triangle t, expanding
    // `from`: corners without a record in `table` get one (and are appended to
    // reached) with the distance through their nearest reached neighbour; the
    // others are relaxed. Returns whether target is a corner of t.
    static bool relaxTriangle(StlTriangle* t, GeoDistanceTable& table, std::deque<StlVertex*>& reached,
                              StlVertex* from, StlVertex* target);
};

} // namespace topolib
