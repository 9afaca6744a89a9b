#pragma once
// The slice preview's cross-section: one record per sliced object with its
// outlines and fill triangles, the clip plane that cuts the scene at the
// height, and the drawing. Records are computed on the slicing thread
// (computeAt) and drawn on the GUI thread; painting never waits for a
// computation (it skips a frame instead).
#include "view/SliceTesselator.h"
#include "view/ViewTools.h"

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

class ObjectEx;
class QWidget;

namespace topolib {
class StlObject;
struct SliceContourSet;
} // namespace topolib

class SliceRender : public QObject, public SlicePreviewTool {
    Q_OBJECT
public:
    using Point = std::array<double, 3>;

    // What is sliced: a mesh and the scene object it belongs to (null for a
    // bare mesh). Listed on the GUI thread while no computation runs.
    struct Source {
        ObjectEx* object = nullptr;
        topolib::StlObject* mesh = nullptr;
    };

    struct Record {
        ObjectEx* object = nullptr;
        std::unique_ptr<topolib::SliceContourSet> contours; // null: the height misses the mesh
        std::vector<Point> fillVertices;                    // x, y, height
        std::vector<std::uint32_t> fillIndices;             // three per triangle
        bool fillFailed = false;                            // outlines only
    };

    // view: repainted by updateSlice (may be null).
    explicit SliceRender(QWidget* view);
    ~SliceRender() override;

    // Slicing thread. Clears the records, then slices every source at z
    // unless another computation holds the compute lock (false). False also
    // when abortCompute() stopped it half-way; the records then stay empty,
    // as they do (true) when memory runs out.
    bool computeAt(float z);
    // Slices the sources at the current height and publishes the new records.
    // False when aborted.
    bool sliceAll();
    // Tessellates set's outlines at the current height into fill triangles;
    // returns the number of triangles. Throws std::runtime_error when GLU
    // cannot make a tessellator.
    int tessellateContours(const topolib::SliceContourSet* set, std::vector<Point>& vertices,
                           std::vector<std::uint32_t>& indices);

    // GUI thread. Replaces the sources; waits for a running computation.
    void setSources(std::vector<Source> sources);
    // Drops every record (the preview shows no cross-section until the next
    // computation).
    void clearRecords();
    // A computation in progress gives up at the next object (and returns
    // false) while set; the slicing thread sets it while pausing.
    void setAbort(bool abort) { _abort.store(abort); }

    // GL: clip plane GL_CLIP_PLANE1 at the height (enabled only), and the
    // cross-section's drawing (GUI thread, current context).
    void setClipPlane() override;
    void draw() override;

    bool isEnabled() const { return _enabled; }
    void setEnabled(bool on) { _enabled = on; }
    void setKeepBelow(bool on) { _keepBelow = on; }
    void setDrawOutline(bool on) { _drawOutline = on; }
    void setDrawFill(bool on) { _drawFill = on; }
    // The height the GUI last asked for (drawing and the clip plane use it).
    double height() const { return _height.load(); }
    void setHeight(double z) { _height.store(z); }

    // Runs fn on the records under the result lock (tests, tools); false when
    // the lock is taken and wait is false.
    bool visitRecords(const std::function<void(const std::vector<Record>&, double height)>& fn,
                      bool wait = true);

    // Tells whether a scene object is drawn (its cross-section is shown only
    // then). Installed by the panel; without it every record is drawn.
    using VisibilityTest = std::function<bool(const ObjectEx*)>;
    void setVisibilityTest(VisibilityTest test) { _isVisible = std::move(test); }
    // What makes the GLU tessellators of the fills (GluTesselator); null, the
    // default, for gluNewTess. Set while no computation runs.
    void setTessFactory(GluTesselator::TessFactory factory) { _tessFactory = factory; }

public slots:
    // Repaints the view (after slicingFinish, on the GUI thread).
    void updateSlice();

private:
    bool _enabled = false;
    bool _keepBelow = true;
    bool _drawOutline = false;
    bool _drawFill = true;
    std::atomic<double> _height{std::numeric_limits<double>::infinity()};

    std::vector<Record> _records; // result lock
    double _recordsHeight = 0.0;  // result lock: the height the records were cut at
    std::vector<Source> _sources; // compute lock
    double _computeHeight = 0.0;  // compute lock: the height being cut
    std::vector<std::vector<Point>> _contourList;
    std::atomic<bool> _abort{false};
    bool _loggedTessFailure = false;
    GluTesselator::TessFactory _tessFactory = nullptr;

    QWidget* _view = nullptr;
    VisibilityTest _isVisible;
    std::mutex _computeLock;
    std::mutex _resultLock;
};
