#include "view/SliceRender.h"

#include "app/Log.h"
#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"
#include "view/SliceTesselator.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <QWidget>

#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

namespace {

// A diagonal cross-hatch, 32 × 32 bits, rows from the bottom.
const GLubyte kHatch[128] = {
    0x80, 0x81, 0x81, 0x81, 0x41, 0x42, 0x42, 0x42, 0x22, 0x24, 0x24, 0x24, 0x14, 0x18, 0x18, 0x18,
    0x08, 0x18, 0x18, 0x18, 0x14, 0x24, 0x24, 0x24, 0x22, 0x42, 0x42, 0x42, 0x41, 0x81, 0x81, 0x81,
    0x81, 0x81, 0x81, 0x80, 0x42, 0x42, 0x42, 0x41, 0x24, 0x24, 0x24, 0x22, 0x18, 0x18, 0x18, 0x14,
    0x18, 0x18, 0x18, 0x08, 0x24, 0x24, 0x24, 0x14, 0x42, 0x42, 0x42, 0x22, 0x81, 0x81, 0x81, 0x41,
    0x41, 0x81, 0x80, 0x81, 0x22, 0x42, 0x41, 0x42, 0x14, 0x24, 0x22, 0x24, 0x08, 0x18, 0x14, 0x18,
    0x14, 0x18, 0x08, 0x18, 0x22, 0x24, 0x14, 0x24, 0x41, 0x42, 0x22, 0x42, 0x80, 0x81, 0x41, 0x81,
    0x41, 0x40, 0x81, 0x81, 0x22, 0x21, 0x42, 0x42, 0x14, 0x12, 0x24, 0x24, 0x08, 0x0c, 0x18, 0x18,
    0x14, 0x0c, 0x18, 0x18, 0x22, 0x12, 0x24, 0x24, 0x41, 0x21, 0x42, 0x42, 0x80, 0xc0, 0x81, 0x81,
};

} // namespace

SliceRender::SliceRender(QWidget* view) : _view(view) {}

SliceRender::~SliceRender() {
    std::lock_guard<std::mutex> compute(_computeLock);
    std::lock_guard<std::mutex> result(_resultLock);
    _records.clear();
}

bool SliceRender::computeAt(float z) {
    clearRecords();
    if (!_computeLock.try_lock())
        return false;
    const std::lock_guard<std::mutex> computing(_computeLock, std::adopt_lock);
    _computeHeight = z;
    try {
        return sliceAll();
    } catch (const std::bad_alloc&) {
        // The height is done with: the view shows nothing there, and the
        // program goes on.
        logText("Slice preview: not enough memory to cut the scene at this height");
        return true;
    }
}

bool SliceRender::sliceAll() {
    std::vector<Record> fresh;
    fresh.reserve(_sources.size());
    bool tessFailed = false;
    for (const Source& source : _sources) {
        if (_abort.load())
            return false;
        Record record;
        record.object = source.object;
        if (source.mesh)
            record.contours = source.mesh->sliceAt(_computeHeight);
        if (record.contours) {
            try {
                tessellateContours(record.contours.get(), record.fillVertices, record.fillIndices);
            } catch (const std::runtime_error& e) {
                record.fillVertices.clear();
                record.fillIndices.clear();
                record.fillFailed = true;
                if (!tessFailed)
                    logText(e.what());
                tessFailed = true;
            }
        }
        fresh.push_back(std::move(record));
    }
    {
        std::lock_guard<std::mutex> result(_resultLock);
        std::swap(_records, fresh);
        _recordsHeight = _computeHeight;
    }
    // The old records (now in fresh) are freed here, outside the lock.
    return true;
}

int SliceRender::tessellateContours(const topolib::SliceContourSet* set, std::vector<Point>& vertices,
                                    std::vector<std::uint32_t>& indices) {
    vertices.clear();
    indices.clear();
    if (!set)
        return 0;
    _contourList.resize(set->contours.size());
    for (std::size_t i = 0; i < set->contours.size(); ++i) {
        const auto& points = set->contours[i].points;
        std::size_t n = points.size();
        // A closed outline repeats its first point; GLU closes contours itself.
        if (n > 1 && points.front().x == points.back().x && points.front().y == points.back().y)
            --n;
        auto& contour = _contourList[i];
        contour.resize(n);
        for (std::size_t k = 0; k < n; ++k)
            contour[k] = {points[k].x, points[k].y, _computeHeight};
    }
    GluTesselator tess(_contourList, GLU_TESS_WINDING_NONZERO, _tessFactory);
    tess.tessellate();
    vertices = tess.vertices();
    indices = tess.indices();
    return static_cast<int>(indices.size() / 3);
}

void SliceRender::setSources(std::vector<Source> sources) {
    std::lock_guard<std::mutex> compute(_computeLock);
    _sources = std::move(sources);
}

void SliceRender::clearRecords() {
    std::vector<Record> old;
    {
        std::lock_guard<std::mutex> result(_resultLock);
        std::swap(old, _records);
    }
}

bool SliceRender::visitRecords(const std::function<void(const std::vector<Record>&, double)>& fn, bool wait) {
    if (wait)
        _resultLock.lock();
    else if (!_resultLock.try_lock())
        return false;
    fn(_records, _recordsHeight);
    _resultLock.unlock();
    return true;
}

void SliceRender::setClipPlane() {
    if (!_enabled)
        return;
    const double h = height();
    GLdouble plane[4] = {0.0, 0.0, -1.0, h + 0.001};
    if (!_keepBelow) {
        plane[2] = 1.0;
        plane[3] = 0.001 - h;
    }
    glClipPlane(GL_CLIP_PLANE1, plane);
    glEnable(GL_CLIP_PLANE1);
}

void SliceRender::draw() {
    if (!_enabled)
        return;
    // The paint never waits for the slicing thread: a frame that finds the
    // records being replaced shows no cross-section; slicingFinish repaints.
    if (!_resultLock.try_lock())
        return;
    glPushAttrib(0xBFB);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    if (_drawFill) {
        glEnable(GL_POLYGON_STIPPLE);
        glPolygonStipple(kHatch);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glColor4f(0.0f, 1.0f, 0.0f, 1.0f);
        glBegin(GL_TRIANGLES);
        for (const Record& r : _records)
            for (std::uint32_t index : r.fillIndices) {
                const Point& p = r.fillVertices[index];
                glVertex3d(p[0], p[1], p[2]);
            }
        glEnd();
        glDisable(GL_POLYGON_STIPPLE);
    }
    if (_drawOutline) {
        glEnable(GL_BLEND);
        glLineWidth(1.3f);
        for (const Record& r : _records) {
            if (!r.contours || (r.object && _isVisible && !_isVisible(r.object)))
                continue;
            for (const topolib::SliceContour& c : r.contours->contours) {
                // Closed outlines yellow, outlines that ran into a mesh border light blue.
                if (c.closed)
                    glColor4f(1.0f, 1.0f, 0.0f, 1.0f);
                else
                    glColor4f(0.4f, 0.7f, 1.0f, 1.0f);
                glBegin(GL_LINE_STRIP);
                for (const topolib::SlicePoint& p : c.points)
                    glVertex3d(p.x, p.y, _recordsHeight);
                glEnd();
            }
        }
    }
    glFlush();
    glPopAttrib();
    _resultLock.unlock();
}

void SliceRender::updateSlice() {
    if (_view)
        _view->update();
}
