#include "export/SceneExport.h"

#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "topolib/StlTriangle.h"

namespace gcodeexport {

bool ExportScene::isEmpty() const {
    for (const ExportPiece& piece : pieces)
        if (!piece.triangles.empty())
            return false;
    return true;
}

ExportScene gatherExportScene(ObjectTable& table, bool selectedOnly) {
    ExportScene scene;
    for (ObjectEx* obj : table.objects()) {
        if (!obj->isReady() || (selectedOnly && !obj->isSelected()))
            continue;
        // collectTriangles gives the live mesh triangles first, then the
        // supports; the mesh's share is counted separately to split them.
        std::vector<topolib::StlTriangle*> all;
        obj->collectTriangles(all);
        size_t meshCount = 0;
        for (const topolib::StlTriangle* t : obj->triangles())
            if (t && !t->isDeleted())
                ++meshCount;
        meshCount = std::min(meshCount, all.size());
        ExportPiece mesh{{all.begin(), all.begin() + static_cast<std::ptrdiff_t>(meshCount)}, true};
        ExportPiece supports{{all.begin() + static_cast<std::ptrdiff_t>(meshCount), all.end()}, false};
        scene.pieces.push_back(std::move(mesh));
        if (!supports.triangles.empty())
            scene.pieces.push_back(std::move(supports));
    }
    scene.triangleCount = table.triangleCount(selectedOnly);
    double range[2] = {0.0, 0.0};
    scene.hasHeight = table.axisExtent(2, range, selectedOnly);
    scene.zMin = range[0];
    scene.zMax = range[1];
    return scene;
}

} // namespace gcodeexport
