#include "project/VlrProjectFileHandling.h"

#include "project/ByteArraySink.h"
#include "project/ProjectArchiveReader.h"
#include "project/ProjectArchiveWriter.h"
#include "project/SupportBinding.h"

#include "app/Log.h"
#include "app/ProgressReport.h"
#include "fileIo/VGeoFileHandling.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "support/SupportGen.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <new>
#include <set>
#include <system_error>

namespace {

const QString kDescriptorName = QStringLiteral("VlrProDesc.xml");

// Meshes of at least this many triangles build their octree on their own
// worker while the archive is read on; smaller ones are built at once.
constexpr uint32_t kOctreeOnWorkerFrom = 20000;

QString geometryEntryName(int n) {
    return QStringLiteral("ObjGeo/%1.vsg").arg(n);
}

QString supportEntryName(int n) {
    return QStringLiteral("Support/%1.xml").arg(n);
}

// The objects a save writes: loaded and placed ones, in list order.
std::vector<ObjectEx*> savedObjects(const ObjectTable& table) {
    std::vector<ObjectEx*> out;
    for (ObjectEx* o : table.objects())
        if (o && o->isReady() && o->isLoaded())
            out.push_back(o);
    return out;
}

// Why the object cannot be stored so that the reader gets it back (user's
// words); empty when it can. The entry holds positions as floats: a
// coordinate beyond their range would read back as infinite, and a model
// whose triangles have no area left would read back empty.
// Why an object lies beyond the coordinate limit, which no file of the
// program may cross (it would not read back).
QString beyondLimitReason(const ObjectEx& o) {
    return QCoreApplication::translate("VlrProjectFileHandling",
                                       "The object '%1' reaches beyond %2 mm from the origin, farther than the "
                                       "program can hold.")
        .arg(o.name())
        .arg(double(topolib::kMaxImportCoordinate), 0, 'f', 0);
}

// The objects an open left out for lying beyond the coordinate limit, named
// (the first ten), and how to keep them.
QString leftOutNote(const QStringList& names) {
    QString list = QStringLiteral("'%1'").arg(names.mid(0, 10).join(QStringLiteral("', '")));
    if (names.size() > 10)
        list = QCoreApplication::translate("VlrProjectFileHandling", "%1 and %2 more")
                   .arg(list)
                   .arg(names.size() - 10);
    return QCoreApplication::translate(
               "VlrProjectFileHandling",
               "Objects that reach beyond %1 mm from the origin, farther than the program "
               "can hold, were left out: %2. The project file still holds them; save the "
               "project under another name to keep that file as it is.")
        .arg(double(topolib::kMaxImportCoordinate), 0, 'f', 0)
        .arg(list);
}

QString unstorableReason(const ObjectEx& o, uint32_t written) {
    const double limit = topolib::kMaxImportCoordinate;
    for (const topolib::StlVertex* v : o.vertices())
        for (int k = 0; v && k < 3; ++k)
            if (!(std::fabs(v->pos.data()[k]) <= limit))
                return beyondLimitReason(o);
    const bool hasTriangles = std::any_of(o.triangles().begin(), o.triangles().end(),
                                          [](const topolib::StlTriangle* t) { return t && !t->isDeleted(); });
    if (hasTriangles && written == 0)
        return QCoreApplication::translate("VlrProjectFileHandling",
                                           "The object '%1' is too small to be stored in a project: none of its "
                                           "triangles keeps an area.")
            .arg(o.name());
    if (!fileIo::VGeoFileHandling::countsFit(written, o.vertices().size(), UINT64_MAX))
        return QCoreApplication::translate("VlrProjectFileHandling",
                                           "The object '%1' holds too many vertices of no triangle to be stored "
                                           "in a project.")
            .arg(o.name());
    return QString();
}

project::ProjectObjectInfo objectInfo(const ObjectEx& o, int number, uint32_t written) {
    project::ProjectObjectInfo r;
    r.id = static_cast<unsigned>(number);
    r.type = 0;
    r.name = o.name();
    r.viewMode = static_cast<unsigned short>(o.viewMode());
    r.transparency = o.isTransparent();
    r.selected = o.isSelected();
    r.visible = o.isVisible();
    r.pointed = o.isPointed();
    r.locked = o.isLocked();
    r.transparentValue = o.transparentValue();
    // The triangles the geometry entry holds, which the reader checks.
    r.numberTriangles = written;
    r.shadeColor = o.color();
    return r;
}

void applyObjectInfo(const project::ProjectObjectInfo& r, ObjectEx& o) {
    o.setName(r.name);
    o.setColor(r.shadeColor.isValid() ? r.shadeColor : QColor(0, 0, 0));
    o.setViewMode(meshStyleFromNumber(r.viewMode));
    o.setSelected(r.selected);
    o.setVisible(r.visible);
    o.setPointed(r.pointed);
    o.setLocked(r.locked);
    // The value decides, not the stored flag: a value below one is a
    // transparent object whatever "Transparency" says.
    o.setTransparent(double(r.transparentValue) <= 0.99999);
    o.setTransparentValue(r.transparentValue);
}

} // namespace

VlrProjectFileHandling* VlrProjectFileHandling::instance() {
    static VlrProjectFileHandling* handling = new VlrProjectFileHandling();
    return handling;
}

VlrProjectFileHandling::VlrProjectFileHandling() {
    m_glInfo.renderScale = 2.0;
    for (int k = 0; k < 4; ++k)
        m_glInfo.modelView[k * 5] = 1.0f;
}

VlrProjectFileHandling::~VlrProjectFileHandling() = default;

void VlrProjectFileHandling::setView(std::function<CameraState()> current,
                                     std::function<void(const CameraState&)> apply) {
    m_currentView = std::move(current);
    m_applyView = std::move(apply);
}

bool VlrProjectFileHandling::saveGLInfo() {
    if (!m_currentView)
        return true;
    const CameraState s = m_currentView();
    m_glInfo.renderScale = s.zoom;
    for (int k = 0; k < 16; ++k)
        m_glInfo.modelView[k] = static_cast<float>(s.modelView[k]);
    std::copy(s.renderCenter, s.renderCenter + 3, m_glInfo.renderCenter);
    return true;
}

void VlrProjectFileHandling::applyGLInfo(const project::ProjectDescriptor& d) {
    // Parts the document did not hold usably keep what the view has.
    if (d.hasScale)
        m_glInfo.renderScale = d.view.renderScale;
    if (d.hasMatrix)
        std::copy(d.view.modelView, d.view.modelView + 16, m_glInfo.modelView);
    if (d.hasCenter)
        std::copy(d.view.renderCenter, d.view.renderCenter + 3, m_glInfo.renderCenter);
    m_glInfo.lastPosX = d.view.lastPosX;
    m_glInfo.lastPosY = d.view.lastPosY;
    if (!m_currentView || !m_applyView)
        return;
    CameraState s = m_currentView();
    if (d.hasScale)
        s.zoom = d.view.renderScale;
    if (d.hasMatrix)
        std::copy(d.view.modelView, d.view.modelView + 16, s.modelView);
    if (d.hasCenter)
        std::copy(d.view.renderCenter, d.view.renderCenter + 3, s.renderCenter);
    m_applyView(s);
}

IO_ERROR VlrProjectFileHandling::save(const QString& path) {
    project::ProjectArchiveWriter writer(path);
    return save(writer);
}

IO_ERROR VlrProjectFileHandling::save(project::ProjectArchiveWriter& writer) {
    const QString& path = writer.target();
    m_lastError.clear();
    ObjectTable* table = ObjectTable::instance();
    const std::vector<ObjectEx*> objects = savedObjects(*table);
    for (ObjectEx* o : objects)
        o->waitForJobs();

    m_lastReason.clear();
    // Only what the reader reads back is written: an object that would not
    // come back refuses the save before anything is written.
    std::vector<uint32_t> written(objects.size());
    for (size_t k = 0; k < objects.size(); ++k) {
        written[k] = fileIo::VGeoFileHandling::countWrittenTriangles(*objects[k]);
        m_lastReason = unstorableReason(*objects[k], written[k]);
        if (!m_lastReason.isEmpty()) {
            m_lastError = m_lastReason;
            logString("Project save: " + m_lastReason.toStdString());
            return IO_SAVE_OBJECT_FAILED;
        }
    }
    auto failed = [&](IO_ERROR code) {
        m_lastError = writer.errorString();
        if (!m_lastError.isEmpty())
            logString("Project save: " + m_lastError.toStdString());
        // A file that could not be written or put in place (a full disk, a
        // folder without room for a new file) is that, whichever entry met it.
        if (writer.fileFailure() != fileIo::SaveFailure::None) {
            m_lastReason = QCoreApplication::translate("VlrProjectFileHandling",
                                                       fileIo::saveFailureText(writer.fileFailure()));
            return IO_FILE_FAILED;
        }
        return code;
    };
    if (!writer.open())
        return failed(IO_ZIP_FAILED);
    const ProgressSink progress;
    const ProgressEnd end(progress);
    progress.setText(ProgressText::SavingProject, QFileInfo(path).fileName().toStdWString());
    progress.setPercent(0);
    progress.setPercent(1);

    try {
        project::ProjectDescriptor d;
        d.view = m_glInfo;
        for (size_t k = 0; k < objects.size(); ++k)
            d.objects.push_back(objectInfo(*objects[k], static_cast<int>(k), written[k]));
        if (!writer.writeEntry(kDescriptorName, project::writeDescriptor(d)))
            return failed(IO_XML_FAILED);
        progress.setPercent(10);

        // Weights by triangle count over 80 points; none for a scene without triangles.
        double total = 0;
        for (ObjectEx* o : objects)
            total += o->facetCount();
        std::vector<fileIo::VGeoNumbering> numbering(objects.size());
        double running = 10;
        for (size_t k = 0; k < objects.size(); ++k) {
            project::ByteArraySink entry;
            fileIo::VGeoFileHandling handler;
            handler.setTarget(objects[k]);
            handler.recordNumbering(&numbering[k]);
            if (handler.writeToStream(&entry) != fileIo::kSuccess)
                return failed(IO_SAVE_OBJECT_FAILED);
            if (!writer.writeEntry(geometryEntryName(static_cast<int>(k)), entry.bytes))
                return failed(IO_ZIP_FAILED);
            if (total > 0) {
                running += static_cast<int>(objects[k]->facetCount() * (80.0 / total));
                progress.setPercent(static_cast<int>(running));
            }
        }
        progress.setPercent(90);

        for (size_t k = 0; k < objects.size(); ++k) {
            const auto& gen = objects[k]->supportGenIfAny();
            if (!gen || gen->areaCount() == 0)
                continue;
            const project::SupportRecord record = project::supportRecordFrom(*gen, numbering[k]);
            if (!writer.writeEntry(supportEntryName(static_cast<int>(k)), project::writeSupportEntry(record)))
                return failed(IO_ZIP_FAILED);
        }
        progress.setPercent(98);
    } catch (const std::exception& e) {
        logString(std::string("zipObjectList()-Exception: ") + e.what());
        return failed(IO_MISC_ERROR);
    }
    if (!writer.commit())
        return failed(IO_ZIP_FAILED);
    return IO_SUCCESS;
}

IO_ERROR VlrProjectFileHandling::open(int loadProjectType, const QString& path, ObjectTable* table) {
    m_lastReason.clear();
    m_openNote.clear();
    const ProgressSink progress;
    const ProgressEnd end(progress);
    progress.setText(ProgressText::LoadingProject, QFileInfo(path).fileName().toStdWString());
    progress.setPercent(0);
    if (loadProjectType != 0 || !table)
        return IO_SUCCESS;
    // A failed allocation anywhere in reading refuses the project; nothing
    // has reached the scene until finishLoad's last step. A worker that
    // cannot be started lacks memory for its stack.
    try {
        return readAndFinish(path, table, progress);
    } catch (const std::bad_alloc&) {
    } catch (const std::system_error&) {
    }
    logText("Not enough memory to load the project");
    return IO_NOT_ENOUGH_MEMORY;
}

IO_ERROR VlrProjectFileHandling::readAndFinish(const QString& path, ObjectTable* table, const ProgressSink& progress) {
    project::ProjectContents contents;
    // Each object's octree is built on its worker as soon as its triangles
    // are read, while the reader links the edges and goes on with the
    // archive. A mesh that is refused later waits for its worker when it is
    // freed.
    std::set<const topolib::StlObject*> building;
    const IO_ERROR r = project::readProjectArchive(
        path, [] { return std::unique_ptr<topolib::StlObject>(new ObjectEx()); }, contents,
        ProgressSpan(progress, 0.0, 0.9),
        [&building](topolib::StlObject& mesh) {
            // A small mesh's tree takes less than a thread's start; each
            // thread also leaves memory in the allocator's arena of its own.
            if (mesh.triangleCount() < kOctreeOnWorkerFrom)
                mesh.buildOctree();
            else
                static_cast<ObjectEx&>(mesh).startJob(ObjectCalcThread::Job::BuildOctree, false);
            building.insert(&mesh);
        });
    if (r != IO_SUCCESS) {
        m_lastReason = QString::fromStdString(contents.refusal);
        return r;
    }
    progress.setPercent(90);
    return finishLoad(contents, table, building);
}

IO_ERROR VlrProjectFileHandling::finishLoad(project::ProjectContents& contents, ObjectTable* table,
                                            const std::set<const topolib::StlObject*>& building) {
    const project::ProjectDescriptor& d = contents.descriptor;
    m_docVersion = d.docVersion;
    logInt(static_cast<int>(contents.meshes.size()), "Total objects");
    if (!d.hasViewPort) {
        logText("Read GL Infor failed!");
        return IO_MISC_ERROR;
    }
    // A project written by an earlier version, another program or by hand
    // may hold an object beyond the coordinate limit, which the scene never
    // holds: it is left out (its support entry with it), the others open.
    QStringList leftOut;
    for (size_t r = 0; r < contents.meshes.size(); ++r) {
        auto* object = static_cast<ObjectEx*>(contents.meshes[r].get());
        if (ObjectTable::staysWithinLimit(object, topolib::Matrix4D()))
            continue;
        object->setName(d.objects[r].name);
        logString("Project open, left out: " + beyondLimitReason(*object).toStdString());
        leftOut << object->name();
        contents.meshes[r].reset();
    }
    // Everything is checked; from here on only memory can fail (the support
    // meshes of a project whose columns are far taller than a printer), and
    // the table is touched only once every object is ready. The objects'
    // octrees are built side by side, each on its object's own worker (started
    // while the archive was read), and every worker has ended before its
    // object is touched again (the end of a job also sets the selection, which
    // the record then overrides).
    for (auto& mesh : contents.meshes)
        if (mesh && !building.count(mesh.get()))
            static_cast<ObjectEx*>(mesh.get())->startJob(ObjectCalcThread::Job::BuildOctree, false);
    for (size_t r = 0; r < contents.meshes.size(); ++r) {
        auto* object = static_cast<ObjectEx*>(contents.meshes[r].get());
        if (!object)
            continue;
        object->waitForJobs();
        applyObjectInfo(d.objects[r], *object);
        const auto support = contents.supports.find(static_cast<int>(r));
        if (support != contents.supports.end()) {
            const project::SupportRecord& record = support->second;
            if (!record.areas.empty())
                if (const std::shared_ptr<support::SupportGen> gen = object->supportGen()) {
                    try {
                        project::fillSupportGen(*gen, *object, record);
                    } catch (const std::bad_alloc&) {
                        logInt(static_cast<int>(r), "Not enough memory for the supports of object");
                        return IO_NOT_ENOUGH_MEMORY;
                    }
                }
        }
        object->setLoaded(true);
    }
    for (auto& mesh : contents.meshes)
        if (mesh)
            table->addObject(static_cast<ObjectEx*>(mesh.release()));
    applyGLInfo(d);
    if (!leftOut.isEmpty())
        m_openNote = leftOutNote(leftOut);
    return IO_SUCCESS;
}
