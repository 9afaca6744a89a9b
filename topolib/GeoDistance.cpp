#include "topolib/GeoDistance.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cmath>
#include <limits>

namespace topolib {

namespace {

double edgeLength(const StlVertex* a, const StlVertex* b) {
    return std::sqrt((a->pos - b->pos).lengthSquared());
}

// dist(x) := |x - y| + dist(y) when that is shorter, with y as the predecessor.
// Nothing changes when either end has no record yet.
void relaxFrom(StlVertex* x, GeoDistanceVertex* gx, StlVertex* y, const GeoDistanceVertex* gy) {
    if (!gx || !gy)
        return;
    const double d = edgeLength(x, y) + gy->distance;
    if (gx->distance > d) {
        gx->distance = d;
        gx->predecessor = y;
    }
}

GeoDistanceVertex* recordOf(GeoDistanceTable& table, const StlVertex* v) {
    const auto it = table.find(v);
    return it == table.end() ? nullptr : &it->second;
}

} // namespace

bool GeoDistanceVertex::relaxTriangle(StlTriangle* t, GeoDistanceTable& table, std::deque<StlVertex*>& reached,
                                      StlVertex* from, StlVertex* target) {
    StlVertex* v[3] = {t->vertices[0], t->vertices[1], t->vertices[2]};
    // The records are looked up once; a record added below is copied to every
    // slot of its vertex, since a degenerate triangle may repeat a corner.
    GeoDistanceVertex* g[3] = {recordOf(table, v[0]), recordOf(table, v[1]), recordOf(table, v[2])};
    GeoDistanceVertex* gFrom = recordOf(table, from);
    // The neighbours a newly reached corner looks at, in this order.
    static const int candidates[3][2] = {{1, 2}, {0, 2}, {1, 0}};
    for (int k = 0; k < 3; ++k) {
        StlVertex* vk = v[k];
        if (!g[k]) {
            GeoDistanceVertex* added = &table[vk];
            added->predecessor = nullptr;
            added->distance = std::numeric_limits<double>::infinity();
            for (int j = 0; j < 3; ++j)
                if (v[j] == vk)
                    g[j] = added;
            if (from == vk)
                gFrom = added;
            reached.push_back(vk);
            for (int c : candidates[k]) {
                if (v[c] == vk || !g[c])
                    continue;
                const double d = edgeLength(vk, v[c]) + g[c]->distance;
                if (d < added->distance) {
                    added->distance = d;
                    added->predecessor = v[c];
                }
            }
        } else if (vk != from) {
            relaxFrom(vk, g[k], from, gFrom);
        }
    }
    // Every corner has a record now.
    int reference = 0;
    if (g[0]->distance > g[1]->distance) {
        relaxFrom(v[0], g[0], v[1], g[1]);
        relaxFrom(v[2], g[2], v[1], g[1]);
        reference = 1;
    }
    if (g[reference]->distance > g[2]->distance) {
        relaxFrom(v[0], g[0], v[2], g[2]);
        relaxFrom(v[1], g[1], v[2], g[2]);
    }
    return target == v[0] || target == v[1] || target == v[2];
}

} // namespace topolib
