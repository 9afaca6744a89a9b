#pragma once
// Picking in GL selection mode, shared by every drawing that lets the user
// point at one of its parts (supports, drain holes).
#include <QPoint>

#include <cstddef>
#include <cstdint>
#include <functional>

struct GLPickHit {
    long index = -1;             // the candidate hit, -1 when none was
    uint32_t depth = UINT32_MAX; // its smallest depth in the selection buffer
};

// Draws candidate 0 to count - 1 (drawCandidate(i), which may draw nothing)
// under a 2 × 2 pixel pick region at the widget point p, times the projection
// the view's last paint loaded, and returns the nearest hit. Needs the view's
// context current and the model-view matrix as the paint left it; leaves
// both matrices and the render mode as it found them.
GLPickHit pickNearest(const QPoint& p, std::size_t count,
                      const std::function<void(std::size_t)>& drawCandidate);
