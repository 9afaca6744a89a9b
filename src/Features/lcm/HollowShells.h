#pragma once
// The part each shell of a model plays when the model is hollowed. The shells
// are judged together: a closed shell wound inward (enclosing a negative
// volume) is a cavity when it lies inside the material of the other shells (an
// odd number of them surround it), and a shell wound inside out otherwise.
// Cavities, like the inner shells of an earlier hollowing (hollow byte set),
// give way to the new inner shell: they are not part of the stock and are
// removed when the hollow is applied, so that hollowing a hollow model again
// gives one outer and one inner shell.

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

// One role per shell of model.shells(), in that order. Reads the mesh only
// (triangles, edges and vertices); needs its shells.
std::vector<ShellRole> hollowShellRoles(const topolib::StlObject& model);

// The triangle count and average edge length the cell size is chosen from:
// the model's own, or, when some shell is a cavity, those of the shells that
// make the stock (solid and inside-out ones): a fine inner shell of an earlier
// hollowing must not make the grid finer.
struct StockSurface {
    std::size_t triangles = 0;
    double averageEdge = 0.0;
};
StockSurface stockSurface(const topolib::StlObject& model, const std::vector<ShellRole>& roles);

} // namespace lcm
