// meshinfo --project OUT.vpf [--delete N] FILE...: imports the files as one
// batch, lifts each object to z = 5 and generates its supports with the
// support panel's presets; with --delete, deletes N cones and then N bars of
// each object as the user does in the view (spread evenly over its live
// cones and bars, each one undoable command); saves the scene as a project,
// opens it again into an empty scene and prints
//   project result= bytes= save_ms= open_ms= objects= triangles= cones= links= bars= same=
// result is the save's code, or the open's when the save succeeded; links and
// bars count the live links between live cones and their bars after the open;
// same=1 only when every object's triangle and vertex counts, name and flags,
// every live cone's contact point, which cones are linked, how many bars each
// link has and which of its bars the user deleted, and every support
// triangle (the raft's included) came back, every number to the last bit.
//
// meshinfo --open FILE.vpf [--save OUT.vpf]: opens a project into an empty
// scene and prints
//   open result= code= objects= triangles= cones= ms=
// (result ok or failed, code the open's result); with --save, an open that
// succeeded is saved again as this version writes projects.
//
// meshinfo --project-hollow OUT.vpf WALL DENSITY FILE: imports the file, hollows
// the object as the hollowing panel's "Ok" does (preview on the object, the
// inner shell joined to a copy that takes the object's place), saves the scene
// as a project, opens it into an empty scene, hollows the reopened object again
// the same way and prints
//   project_hollow result= shells= hollow_shells= volume= reopened_shells=
//   reopened_hollow_shells= reopened_volume= again_shells= again_hollow_shells=
//   again_volume=
// result is the save's code, or the open's when the save succeeded; shells
// counts the shells of the hollowed object, hollow_shells those marked as
// inner shells of a hollowing, volume its signed volume; reopened_* describe
// the object as the project brought it back, again_* the second hollowing.

#include "fileIo/PathEncoding.h"
#include "project/VlrProjectFileHandling.h"

#include "app/MemoryCheck.h"
#include "app/Startup.h"
#include "fileIo/FileHandlingFactory.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "scene/SupportCommands.h"
#include "src/Features/lcm/HollowContext.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"
#include "support/SupportParams.h"
#include "topolib/MeshBoolean.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct ObjectSummary {
    QString name;
    uint32_t triangles = 0;
    size_t vertices = 0;
    bool visible = false, selected = false, locked = false, transparent = false;
    std::vector<std::array<double, 3>> cones; // live contact points
    // Live links between live cones: the two cones' places in cones (the
    // smaller first) and the link's bar count, sorted.
    std::vector<std::array<size_t, 3>> links;
    // The deleted bars of those links: the link's two cones as above and the
    // bar's place in the link, sorted.
    std::vector<std::array<size_t, 3>> deletedBars;
    unsigned long bars = 0;
    // The corners of every support triangle the view draws, in its order.
    std::vector<std::array<double, 9>> supportTriangles;
};

void summarizeLinks(const support::SupportGen& gen, ObjectSummary& s) {
    std::map<const support::ConeShape*, size_t> place;
    for (const support::SupportAreaAbs* area : gen.areas)
        for (const support::AbtShape* shape : area->shapes)
            if (const support::ConeShape* c = shape ? shape->asCone() : nullptr)
                if (!c->isDeleted())
                    place.emplace(c, place.size());
    std::set<const support::ColumnLink*> seen;
    for (const auto& [cone, index] : place)
        for (const support::AbtShape* l : cone->links) {
            const auto* link = static_cast<const support::ColumnLink*>(l);
            if (link->isDeleted() || !seen.insert(link).second)
                continue;
            const auto a = place.find(link->first), b = place.find(link->second);
            if (a == place.end() || b == place.end())
                continue;
            const size_t low = std::min(a->second, b->second), high = std::max(a->second, b->second);
            size_t bars = 0;
            for (size_t k = 0; k < link->bars.size(); ++k) {
                if (link->bars[k]->isDeleted())
                    s.deletedBars.push_back({low, high, k});
                else
                    ++bars;
            }
            s.links.push_back({low, high, bars});
            s.bars += bars;
        }
    std::sort(s.links.begin(), s.links.end());
    std::sort(s.deletedBars.begin(), s.deletedBars.end());
}

ObjectSummary summarize(const ObjectEx* o) {
    ObjectSummary s;
    s.name = o->name();
    // Live triangles: a collinear facet is kept from the import as a
    // deleted triangle, which is not part of the model and is not saved.
    for (const topolib::StlTriangle* t : o->triangles())
        s.triangles += t && !t->isDeleted() ? 1 : 0;
    s.vertices = o->vertices().size();
    s.visible = o->isVisible();
    s.selected = o->isSelected();
    s.locked = o->isLocked();
    s.transparent = o->isTransparent();
    if (const auto& gen = o->supportGenIfAny())
        for (const support::SupportAreaAbs* area : gen->areas)
            for (const support::AbtShape* shape : area->shapes)
                if (const support::ConeShape* c = shape ? shape->asCone() : nullptr)
                    if (!c->isDeleted())
                        s.cones.push_back({c->ContactPoint[0], c->ContactPoint[1], c->ContactPoint[2]});
    if (const auto& gen = o->supportGenIfAny()) {
        summarizeLinks(*gen, s);
        std::vector<topolib::StlTriangle*> triangles;
        gen->appendAllTriangles(triangles);
        for (const topolib::StlTriangle* t : triangles) {
            std::array<double, 9> corners;
            for (int k = 0; k < 3; ++k)
                for (int i = 0; i < 3; ++i)
                    corners[size_t(3 * k + i)] = t->vertices[k]->pos[i];
            s.supportTriangles.push_back(corners);
        }
    }
    return s;
}

std::vector<ObjectSummary> summarize(const ObjectTable& table) {
    std::vector<ObjectSummary> out;
    for (const ObjectEx* o : table.objects())
        out.push_back(summarize(o));
    return out;
}

bool same(const std::vector<ObjectSummary>& a, const std::vector<ObjectSummary>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t k = 0; k < a.size(); ++k) {
        const ObjectSummary &x = a[k], &y = b[k];
        if (x.name != y.name || x.triangles != y.triangles || x.vertices != y.vertices || x.visible != y.visible ||
            x.selected != y.selected || x.locked != y.locked || x.transparent != y.transparent ||
            x.cones.size() != y.cones.size() || x.links != y.links || x.deletedBars != y.deletedBars ||
            x.supportTriangles.size() != y.supportTriangles.size())
            return false;
        if (x.supportTriangles != y.supportTriangles || x.cones != y.cones)
            return false;
    }
    return true;
}

struct Totals {
    unsigned long triangles = 0, cones = 0, links = 0, bars = 0;
};

void addTo(Totals& t, const ObjectSummary& o) {
    t.triangles += o.triangles;
    t.cones += o.cones.size();
    t.links += o.links.size();
    t.bars += o.bars;
}

Totals totals(const std::vector<ObjectSummary>& s) {
    Totals t;
    for (const ObjectSummary& o : s)
        addTo(t, o);
    return t;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::unique_ptr<QCoreApplication> startTool(int& argc, char** argv) {
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    std::setlocale(LC_ALL, "C");
    // As the application: a save past the file size limit fails with EFBIG
    // instead of killing the tool with its temporary file left behind.
    ignoreFileSizeSignal();
    installMemoryCheck(hasEnoughMemory);
    return app;
}

void generateSupports(ObjectEx& o) {
    const double lift[3] = {0.0, 0.0, 5.0 - o.bboxMin()[2]};
    o.translate(lift);
    // The support panel's presets.
    o.setSupportParams(support::presetSupportParams());
    o.generateSupport();
}

// Deletes `count` of the object's live shapes of one kind (cones, or bars),
// spread evenly over them, each through the command the view pushes when
// the user deletes the support under the cursor. Returns how many went.
int deleteAsTheUserDoes(ObjectTable& table, ObjectEx& o, support::AbtShape::Kind kind, int count) {
    int deleted = 0;
    for (int k = 0; k < count && o.hasSupport(); ++k) {
        support::ShapeDeque live;
        o.supportGenIfAny()->collectLiveShapes(live);
        std::vector<support::AbtShape*> candidates;
        for (support::AbtShape* s : live)
            if (s->kind() == kind)
                candidates.push_back(s);
        if (candidates.empty())
            break;
        for (ObjectEx* other : table.objects())
            other->setSelected(other == &o);
        o.setPointedSupport(candidates[candidates.size() * size_t(k) / size_t(count) % candidates.size()]);
        deleted += sceneHost()->pushCommand(new DeleteConeSupportCmd(), false) ? 1 : 0;
    }
    return deleted;
}

struct HollowSummary {
    unsigned long shells = 0, hollowShells = 0;
    double volume = 0.0;
};

HollowSummary hollowSummary(const ObjectEx& o) {
    HollowSummary s;
    s.shells = static_cast<unsigned long>(o.shells().size());
    for (const topolib::StlShell* shell : o.shells())
        s.hollowShells += shell->spare != 0 ? 1 : 0;
    s.volume = topolib::liveVolume(o);
    return s;
}

// The first object of the table hollowed as the panel's "Ok" does: the preview
// on the object, the hollow applied to a copy that takes its place. Returns the
// object now in the table.
ObjectEx* hollowInTable(ObjectTable& table, double wall, int density) {
    ObjectEx* source = table.objects().front();
    source->waitForJobs();
    lcm::HollowContext context;
    context.setModel(source);
    context.createPreview(wall, density);
    std::unique_ptr<topolib::StlObject> made = context.hollowedCopy(
        [source](const topolib::StlObject&, const topolib::AppendRoom& room) {
            return std::unique_ptr<topolib::StlObject>(source->clone(0, true, true, room));
        },
        nullptr);
    if (!context.message().empty())
        std::fprintf(stderr, "%s\n", context.message().c_str());
    auto* copy = static_cast<ObjectEx*>(made.release());
    if (!copy || context.innerTriangleCount() == 0 || !table.replaceObject(source, copy)) {
        delete copy;
        return source;
    }
    copy->setLoaded(true);
    delete source;
    return copy;
}

} // namespace

int runProjectHollow(int argc, char** argv) {
    double wall = 0.0;
    int density = 0;
    char* end = nullptr;
    if (argc == 6) {
        wall = std::strtod(argv[3], &end);
        density = static_cast<int>(std::strtol(argv[4], nullptr, 10));
    }
    if (argc != 6 || end == argv[3] || !(wall > 0.0)) {
        std::fprintf(stderr, "usage: meshinfo --project-hollow OUT.vpf WALL DENSITY FILE\n");
        return 2;
    }
    auto app = startTool(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[2]);
    ObjectTable* table = ObjectTable::instance();
    QEventLoop loop;
    QObject::connect(table, &ObjectTable::allObjectImported, &loop, &QEventLoop::quit);
    table->importObjects(QStringList() << QString::fromLocal8Bit(argv[5]));
    if (table->importsRunning())
        loop.exec();
    if (table->objects().empty() || !table->objects().front()->isLoaded()) {
        std::fprintf(stderr, "import failed\n");
        return 1;
    }
    const HollowSummary hollowed = hollowSummary(*hollowInTable(*table, wall, density));

    VlrProjectFileHandling* handling = VlrProjectFileHandling::instance();
    handling->saveGLInfo();
    int result = handling->save(out);
    table->deleteAllObjects();
    if (result == 0)
        result = handling->open(0, out, table);
    HollowSummary reopened, again;
    if (result == 0 && !table->objects().empty()) {
        reopened = hollowSummary(*table->objects().front());
        again = hollowSummary(*hollowInTable(*table, wall, density));
    }
    std::printf("project_hollow result=%d shells=%lu hollow_shells=%lu volume=%.6f reopened_shells=%lu "
                "reopened_hollow_shells=%lu reopened_volume=%.6f again_shells=%lu again_hollow_shells=%lu "
                "again_volume=%.6f\n",
                result, hollowed.shells, hollowed.hollowShells, hollowed.volume, reopened.shells,
                reopened.hollowShells, reopened.volume, again.shells, again.hollowShells, again.volume);
    table->deleteAllObjects();
    return result == 0 ? 0 : 1;
}

int runProject(int argc, char** argv) {
    int first = 3, toDelete = 0;
    if (argc >= 5 && std::strcmp(argv[3], "--delete") == 0) {
        toDelete = std::atoi(argv[4]);
        first = 5;
    }
    if (argc <= first || toDelete < 0) {
        std::fprintf(stderr, "usage: meshinfo --project OUT.vpf [--delete N] FILE...\n");
        return 2;
    }
    auto app = startTool(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QStringList files;
    for (int i = first; i < argc; ++i)
        files << fileIo::pathToQString(std::string(argv[i]));

    ObjectTable* table = ObjectTable::instance();
    QEventLoop loop;
    QObject::connect(table, &ObjectTable::allObjectImported, &loop, &QEventLoop::quit);
    table->importObjects(files);
    if (table->importsRunning())
        loop.exec();
    // Objects whose import failed stay unloaded and are not saved.
    for (ObjectEx* o : table->objects())
        if (o->isLoaded())
            generateSupports(*o);
    for (ObjectEx* o : table->objects())
        if (o->isLoaded() && toDelete > 0) {
            deleteAsTheUserDoes(*table, *o, support::AbtShape::Kind::Cone, toDelete);
            deleteAsTheUserDoes(*table, *o, support::AbtShape::Kind::Bar, toDelete);
        }
    const std::vector<ObjectSummary> before = summarize(*table);

    VlrProjectFileHandling* handling = VlrProjectFileHandling::instance();
    auto start = std::chrono::steady_clock::now();
    handling->saveGLInfo();
    int result = handling->save(out);
    const double saveMs = msSince(start);
    const long long bytes = QFileInfo(out).exists() ? QFileInfo(out).size() : 0;

    // As a new scene does it: the commands go before the objects.
    sceneHost()->commandManager()->clear();
    table->deleteAllObjects();
    double openMs = 0;
    if (result == 0) {
        start = std::chrono::steady_clock::now();
        result = handling->open(0, out, table);
        openMs = msSince(start);
    }
    const std::vector<ObjectSummary> after = summarize(*table);
    const Totals t = totals(after);
    std::printf("project result=%d bytes=%lld save_ms=%.1f open_ms=%.1f objects=%zu triangles=%lu cones=%lu "
                "links=%lu "
                "bars=%lu same=%d\n",
                result, bytes, saveMs, openMs, after.size(), t.triangles, t.cones, t.links, t.bars,
                result == 0 && same(before, after) ? 1 : 0);
    table->deleteAllObjects();
    return result == 0 ? 0 : 1;
}

int runOpen(int argc, char** argv) {
    if (argc != 3 && !(argc == 5 && std::strcmp(argv[3], "--save") == 0)) {
        std::fprintf(stderr, "usage: meshinfo --open FILE.vpf [--save OUT.vpf]\n");
        return 2;
    }
    auto app = startTool(argc, argv);
    ObjectTable* table = ObjectTable::instance();
    const auto start = std::chrono::steady_clock::now();
    const int code = VlrProjectFileHandling::instance()->open(0, QString::fromLocal8Bit(argv[2]), table);
    const double ms = msSince(start);
    // Object by object: the figures of a large scene's open are the open's,
    // not a summary's.
    Totals t;
    for (const ObjectEx* o : table->objects())
        addTo(t, summarize(o));
    std::printf("open result=%s code=%d objects=%zu triangles=%lu cones=%lu ms=%.1f\n",
                code == 0 ? "ok" : "failed", code, static_cast<size_t>(table->count()), t.triangles, t.cones,
                ms);
    if (code == 0 && argc == 5) {
        VlrProjectFileHandling::instance()->saveGLInfo();
        if (VlrProjectFileHandling::instance()->save(QString::fromLocal8Bit(argv[4])) != 0)
            std::fprintf(stderr, "save failed\n");
    }
    table->deleteAllObjects();
    return code == 0 ? 0 : 1;
}
