#pragma once
// The part each shell of a model plays when the model is hollowed. The shells
// are judged together: a closed shell wound inward (enclosing a negative
// volume) is a cavity when it lies inside the material of the other shells (an
// odd number of them surround it), and a shell wound inside out otherwise.
// Cavities, like the inner shells of an earlier hollowing (hollow byte set),
// give way to the new inner shell: they are not part of the stock and are
// removed when the hollow is applied, so that hollowing a hollow model again
// gives one outer and one inner shell.

#include "topolib/Vector3D.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace topolib {
class StlObject;
}

namespace lcm {

enum class ShellRole : uint8_t {
    Ignored,   // debris: a negligible shell
    Solid,     // bounds material as it is wound (open and unevenly wound shells too)
    InsideOut, // closed, evenly wound, encloses a negative volume, surrounded by no material
    Cavity,    // an inner shell of an earlier hollowing, or a closed inward shell inside material
};

// What the roles are judged by, per shell, over its live triangles (primary
// list, then reversed): signed volume against the first live corner, area, box
// (the box StlShell::recomputeBox sets), the centroid of the largest triangle.
struct ShellMeasure {
    double volume = 0.0;
    double area = 0.0;
    topolib::Vector3D lo{HUGE_VAL, HUGE_VAL, HUGE_VAL};
    topolib::Vector3D hi{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    topolib::Vector3D probe; // centroid of the shell's largest triangle
    bool live = false;
    bool evenlyWound = true; // no live triangle in the reversed class
};

// The measures of every shell of model.shells(), in that order, on `threads`
// workers (0: every core) for a large shell; the figures of a plain loop over
// the triangles whatever the thread count.
std::vector<ShellMeasure> measureShells(const topolib::StlObject& model, unsigned threads);

// One role per shell of model.shells(), in that order, from the shells'
// measures (measureShells). Reads the mesh only (triangles, edges and
// vertices); needs its shells.
std::vector<ShellRole> hollowShellRoles(const topolib::StlObject& model, const std::vector<ShellMeasure>& measures);
std::vector<ShellRole> hollowShellRoles(const topolib::StlObject& model);

// The triangle count and average edge length the cell size is chosen from:
// the model's own, or, when some shell is a cavity, those of the shells that
// make the stock (solid and inside-out ones): a fine inner shell of an earlier
// hollowing must not make the grid finer.
struct StockSurface {
    std::size_t triangles = 0;
    double averageEdge = 0.0;
};
// averageEdge is StlObject::averageEdgeLength's figure when no shell is a
// cavity (computed on `threads` workers, summed in edge order).
StockSurface stockSurface(const topolib::StlObject& model, const std::vector<ShellRole>& roles, unsigned threads);

// StlObject::averageEdgeLength and StlObject::computeAreaAndVolume with the
// lengths and triangle terms computed on `threads` workers (0: every core) and
// added in record order: the same figures, bit for bit.
double averageEdgeLengthOnThreads(const topolib::StlObject& model, unsigned threads);
void computeAreaAndVolumeOnThreads(topolib::StlObject& model, unsigned threads);

} // namespace lcm
