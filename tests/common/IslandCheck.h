#pragma once
// The print's own test of supports: a resin print grows layer by layer, and a
// region of a layer that rests on nothing in the layer below (an island) prints
// into the vat unless a support reaches it. The check slices the model and its
// supports at every layer and looks for model regions that neither the model
// nor a support of the layer below comes near.

#include <array>
#include <vector>

namespace topolib {
class StlObject;
class StlTriangle;
} // namespace topolib

namespace islandcheck {

struct Island {
    double x = 0.0, y = 0.0, z = 0.0; // a point of the region's outline and the layer's height
    bool supported = false;           // a support region of the layer below touches it
};

struct Result {
    int islands = 0;     // model regions that no model region of the layer below touches
    int unsupported = 0; // of those, the ones no support region touches either
    std::vector<Island> list;
};

struct Settings {
    double layer = 0.05; // layer height; layer k is cut at its middle, (k + 0.5) × layer
    double touch = 0.2;  // regions closer than this count as touching
};

// Slices `model` (a mesh with edges, wound either way) and the closed support
// shapes given by their triangles (free-standing records, as
// SupportGen::appendAllTriangles gives them) at every layer from the platform
// (z = 0) to the model's top. A model region of layer k is an island when no
// model region of layer k - 1 lies within `touch` of it (regions overlap or
// their outlines come that close); the platform carries layer 0. Material is
// what lies inside the outlines by the non-zero rule (overlapping shells and
// support shapes add up; a model wound inside out keeps its material inside).
Result findIslands(topolib::StlObject& model, const std::vector<topolib::StlTriangle*>& supports,
                   const Settings& settings = Settings());

// Overhangs that no contact reaches. The model is sliced at every layer (cut at
// its middle) and each layer rasterised into square cells; a cell of material
// whose centre lies farther than `hang` from all material of the layer below
// hangs past it. Such a cell is reached when a contact point lies within `reach`
// (3D) of the cell's centre at the layer's height.
struct OverhangSettings {
    double layer = 0.05;
    double cell = 0.1;
    double hang = 1.0;
    double reach = 5.0;
};
struct Overhangs {
    double hangingArea = 0.0;         // mm², over all layers
    double unreachedArea = 0.0;       // mm², the part no contact reaches
    double x = 0.0, y = 0.0, z = 0.0; // a cell of the unreached part
};
Overhangs findUnreachedOverhangs(topolib::StlObject& model,
                                 const std::vector<std::array<double, 3>>& contacts,
                                 const OverhangSettings& settings = OverhangSettings());

} // namespace islandcheck
