#include "project/ProjectArchiveReader.h"

#include "app/Log.h"
#include "app/MemoryCheck.h"
#include "fileIo/ByteOrder.h"
#include "fileIo/VGeoFileHandling.h"
#include "fileIo/VlrZipFile.h"
#include "topolib/StlObject.h"

#include <QFile>
#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace project {

namespace {

const QString kDescriptorName = QStringLiteral("VlrProDesc.xml");
const QString kGeometryFolder = QStringLiteral("ObjGeo");
const QString kSupportFolder = QStringLiteral("Support");

// The geometry entry's head up to and including the vertex count: 256 zero
// bytes, triangle count, six box floats, 256 zero bytes, vertex count.
constexpr uint32_t kGeometryHead = 256 + 4 + 24 + 256 + 4;
constexpr uint64_t kBytesPerVertex = 96;

// The entry's head, read ahead for the checks, handed out again before the
// rest of the entry, so that the geometry reader sees the whole entry.
class HeadFirstStream : public fileIo::KBaseStream {
public:
    HeadFirstStream(const char* head, uint32_t headSize, fileIo::KBaseStream& rest)
        : head_(head), headSize_(headSize), rest_(rest) {}
    bool write(const char*, uint32_t) override { return false; }
    bool read(char* buffer, uint32_t n) override {
        const uint32_t fromHead = std::min(n, headSize_ - used_);
        std::memcpy(buffer, head_ + used_, fromHead);
        used_ += fromHead;
        if (fromHead < n && !rest_.read(buffer + fromHead, n - fromHead))
            return false;
        position_ += n;
        return true;
    }
    int64_t size() override { return rest_.size(); }
    int64_t tell() override { return position_; }
    bool atEnd() override { return used_ == headSize_ && rest_.atEnd(); }

private:
    const char* head_;
    uint32_t headSize_;
    uint32_t used_ = 0;
    int64_t position_ = 0;
    fileIo::KBaseStream& rest_;
};

// What an object of these counts takes once it is in the scene: its records,
// its octree and the object around them.
uint64_t objectBytes(uint64_t triangles, uint64_t vertices) {
    return kObjectBytes + triangles * fileIo::VGeoFileHandling::kBytesPerTriangle + vertices * kBytesPerVertex;
}

bool memoryAllows(uint64_t bytes) {
    return !MemoryCheckCallback || MemoryCheckCallback(bytes);
}

// Reads what is left of the open entry, so that its close can check the CRC.
// An XML entry stops being parsed at its first error: what follows is read
// only for the CRC, and no further than the entry's bound.
IO_ERROR drainXml(QuaZipFile& file, const XmlBounds& bounds) {
    char scratch[65536];
    qint64 total = file.pos();
    while (!file.atEnd()) {
        const qint64 got = file.read(scratch, sizeof scratch);
        if (got < 0)
            return IO_ZIP_FAILED;
        if (got == 0)
            break;
        total += got;
        if (total > bounds.entryBytes)
            return IO_XML_FAILED;
    }
    return file.getZipError() == UNZ_OK ? IO_SUCCESS : IO_ZIP_FAILED;
}

bool drain(QuaZipFile& file) {
    return drainXml(file, XmlBounds{0, 0, std::numeric_limits<qint64>::max()}) == IO_SUCCESS;
}

// Closes the entry; false on a zip error (a CRC mismatch shows here).
bool closeEntry(QuaZipFile& file) {
    file.close();
    return file.getZipError() == UNZ_OK;
}

// Reads a support entry as it is inflated into the record of its object.
// IO_XML_FAILED when the entry goes beyond what a support entry of that mesh
// can hold.
IO_ERROR readSupport(QuaZipFile& file, const topolib::StlObject& mesh, int number,
                     ProjectContents& contents) {
    bool withinBounds = true;
    std::string refusal;
    const MeshLimits limits = meshLimits(mesh);
    SupportRecord& out = contents.supports[number];
    out = readSupportEntry(&file, limits, &withinBounds, &refusal);
    if (!withinBounds) {
        const std::vector<ProjectObjectInfo>& records = contents.descriptor.objects;
        contents.refusal =
            (size_t(number) < records.size() ? "'" + records[size_t(number)].name.toStdString() + "'"
                                             : "Object " + std::to_string(number)) +
            ": " + refusal;
        logString(contents.refusal);
        return IO_XML_FAILED;
    }
    const IO_ERROR rest = drainXml(file, supportEntryBounds(limits));
    if (rest != IO_SUCCESS)
        return rest;
    return closeEntry(file) ? IO_SUCCESS : IO_ZIP_FAILED;
}

IO_ERROR readGeometryEntry(QuaZipFile& file, fileIo::VlrZipFile& stream, topolib::StlObject& mesh,
                           const MeshReadyFunction& meshReady) {
    const int64_t size = stream.size();
    char head[kGeometryHead];
    if (size < kGeometryHead || !stream.read(head, kGeometryHead))
        return file.getZipError() != UNZ_OK ? IO_ZIP_FAILED : IO_LOAD_OBJECT_FAILED;
    const uint64_t triangles = fileIo::loadU32(head + 256);
    const uint64_t vertices = fileIo::loadU32(head + kGeometryHead - 4);
    if (!fileIo::VGeoFileHandling::countsFit(triangles, vertices, uint64_t(size)))
        return IO_LOAD_OBJECT_FAILED;
    if (!memoryAllows(objectBytes(triangles, vertices)))
        return IO_NOT_ENOUGH_MEMORY;
    HeadFirstStream whole(head, kGeometryHead, stream);
    fileIo::VGeoFileHandling reader;
    reader.setTarget(&mesh);
    if (meshReady)
        reader.onTrianglesReady([&meshReady, &mesh] { meshReady(mesh); });
    int result = fileIo::kFailure;
    try {
        result = reader.readFromStream(&whole);
    } catch (const std::exception& e) {
        logString(std::string("Exception: ") + e.what());
        return IO_MISC_ERROR;
    }
    // Damage in the compressed data shows as a zip error or, at the latest,
    // as a CRC mismatch once the whole entry has been read.
    if (!drain(file) || !closeEntry(file))
        return IO_ZIP_FAILED;
    // The geometry reader refuses positions that are not finite and computes
    // the box from the vertices.
    if (result == fileIo::kNotEnoughMemory)
        return IO_NOT_ENOUGH_MEMORY;
    return result == fileIo::kSuccess ? IO_SUCCESS : IO_LOAD_OBJECT_FAILED;
}

IO_ERROR readArchive(QuaZip& zip, const MeshFactory& makeMesh, ProjectContents& out, const ProgressMonitor& progress,
                     const MeshReadyFunction& meshReady);

// Runs read; an allocation that fails anywhere in it (the zip layer, the XML
// parser, a mesh) refuses the project as not enough memory, with every mesh
// made so far freed.
template <typename Read>
IO_ERROR readGuarded(ProjectContents& out, const Read& read) {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        out = ProjectContents();
        logText("Not enough memory to read the project");
        return IO_NOT_ENOUGH_MEMORY;
    }
}

} // namespace

MeshLimits meshLimits(const topolib::StlObject& mesh) {
    MeshLimits m;
    m.triangles = static_cast<int>(mesh.triangles().size());
    m.edges = static_cast<int>(mesh.edges().size());
    m.vertices = static_cast<int>(mesh.vertices().size());
    return m;
}

int entryNumber(const QString& name, const QString& folder, const QString& extension) {
    const int start = folder.size() + 1;
    if (name.size() <= start + extension.size() || !name.startsWith(folder) || name.at(folder.size()) != QLatin1Char('/') ||
        !name.endsWith(extension, Qt::CaseInsensitive))
        return -1;
    const int digits = name.size() - start - extension.size();
    if (digits > 9)
        return -1;
    int value = 0;
    for (int k = 0; k < digits; ++k) {
        const QChar c = name.at(start + k);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

IO_ERROR readProjectArchive(const QString& path, const MeshFactory& makeMesh, ProjectContents& out,
                            const ProgressMonitor& progress, const MeshReadyFunction& meshReady) {
    out = ProjectContents();
    // Only a regular file is read: opening a pipe without a writer would
    // block for ever. The open itself does not block, and the type is taken
    // from what was opened, not from the name.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return IO_ZIP_FAILED;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        logString("Not a regular file: " + path.toStdString());
        return IO_FILE_FAILED;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return IO_ZIP_FAILED;
    }
    return readGuarded(out, [&] {
        QuaZip zip(&file);
        return readArchive(zip, makeMesh, out, progress, meshReady);
    });
}

IO_ERROR readProjectArchive(QIODevice* device, const MeshFactory& makeMesh, ProjectContents& out) {
    return readGuarded(out, [&] {
        QuaZip zip(device);
        return readArchive(zip, makeMesh, out, ProgressMonitor::silent(), {});
    });
}

namespace {

// The bytes the descriptor's objects will take, asked for before any of them
// is read.
uint64_t declaredObjectBytes(const ProjectDescriptor& descriptor) {
    uint64_t declared = 0;
    for (const ProjectObjectInfo& o : descriptor.objects)
        declared += objectBytes(o.numberTriangles, 0);
    return declared;
}

// What an entry's name makes of it.
struct EntryKind {
    bool geometry = false;
    bool descriptor = false;
    int supportNumber = -1; // -1: not a support entry
};

EntryKind entryKind(const QString& name) {
    EntryKind kind;
    kind.geometry = name.startsWith(kGeometryFolder + QLatin1Char('/')) &&
                    name.endsWith(QStringLiteral(".vsg"), Qt::CaseInsensitive);
    kind.supportNumber = entryNumber(name, kSupportFolder, QStringLiteral(".xml"));
    kind.descriptor = name == kDescriptorName;
    return kind;
}

// One pass over an open archive: the entries in archive order, then the
// support entries that came before their object's geometry entry, then the
// checks that hand the meshes over to out. The meshes stay here until then,
// so that a failure at any step frees them all.
class ArchiveReading {
public:
    ArchiveReading(QuaZip& zip, const MeshFactory& makeMesh, ProjectContents& out,
                   const ProgressMonitor& progress, const MeshReadyFunction& meshReady)
        : zip_(zip), makeMesh_(makeMesh), out_(out), progress_(progress), meshReady_(meshReady) {}

    // Reads the geometry entries, the descriptor and the support entries whose
    // object is already read, in archive order; stops at the first failure.
    IO_ERROR readEntries();
    // Reads the support entries put off by readEntries.
    IO_ERROR readPendingSupports();
    // Checks the meshes against the descriptor's records and moves them to
    // out; drops support entries of no record; asks for the cones' memory.
    IO_ERROR handOver();

private:
    void listGeometryNumbers();
    bool isRead(const EntryKind& kind) const;
    IO_ERROR readEntry(const QString& name, const EntryKind& kind);
    IO_ERROR readGeometry(QuaZipFile& file, fileIo::VlrZipFile& stream, const QString& name);
    IO_ERROR readDescriptorEntry(QuaZipFile& file);
    void weighGeometryEntries();
    IO_ERROR readOrPutOffSupport(QuaZipFile& file, int number, const QString& name);
    bool numbersMatchRecords() const;
    bool triangleCountsMatch() const;
    void dropSupportsOfNoRecord();

    QuaZip& zip_;
    const MeshFactory& makeMesh_;
    ProjectContents& out_;
    const ProgressMonitor& progress_;
    const MeshReadyFunction& meshReady_;
    // The object numbers of the geometry entries, from the archive's directory.
    std::set<int> geometryNumbers_;
    // Support entries met before their object's geometry entry, by name.
    std::map<int, QString> pendingSupports_;
    bool haveDescriptor_ = false;
    std::map<int, std::unique_ptr<topolib::StlObject>> meshes_;
    // Each geometry entry's share of the progress, in the descriptor's order.
    std::vector<double> weights_;
    double progressSum_ = 0;
};

// The names come from the archive's directory, without reading any entry: a
// support entry whose object has no geometry entry is passed over unread.
void ArchiveReading::listGeometryNumbers() {
    for (const QString& name : zip_.getFileNameList())
        if (name.startsWith(kGeometryFolder + QLatin1Char('/')))
            geometryNumbers_.insert(entryNumber(name, kGeometryFolder, QStringLiteral(".vsg")));
}

// Geometry entries and the descriptor are always read; a support entry only
// once, and only for an object with a geometry entry and, once the descriptor
// is read, a record.
bool ArchiveReading::isRead(const EntryKind& kind) const {
    const int number = kind.supportNumber;
    if (number < 0)
        return kind.geometry || kind.descriptor;
    return geometryNumbers_.count(number) && !out_.supports.count(number) &&
           !pendingSupports_.count(number) &&
           !(haveDescriptor_ && size_t(number) >= out_.descriptor.objects.size());
}

IO_ERROR ArchiveReading::readEntries() {
    listGeometryNumbers();
    size_t entries = 0;
    for (bool more = zip_.goToFirstFile(); more; more = zip_.goToNextFile()) {
        if (++entries > 3 * kMaxProjectObjects + 1)
            return IO_MISC_ERROR;
        const QString name = zip_.getCurrentFileName();
        const EntryKind kind = entryKind(name);
        if (!isRead(kind))
            continue;
        const IO_ERROR result = readEntry(name, kind);
        if (result != IO_SUCCESS)
            return result;
    }
    return IO_SUCCESS;
}

// Opens the current entry and reads it by its kind.
IO_ERROR ArchiveReading::readEntry(const QString& name, const EntryKind& kind) {
    fileIo::VlrZipFile stream(&zip_);
    QuaZipFile& file = stream.device();
    if (!file.open(QIODevice::ReadOnly)) {
        logString("Error Open curContentFile: " + file.errorString().toStdString());
        return IO_ZIP_FAILED;
    }
    if (kind.geometry)
        return readGeometry(file, stream, name);
    if (kind.descriptor)
        return readDescriptorEntry(file);
    return readOrPutOffSupport(file, kind.supportNumber, name);
}

// A new mesh from the entry, kept under its number; then the entry's share
// of the progress. IO_MISC_ERROR for a bad or repeated number, or one object
// too many.
IO_ERROR ArchiveReading::readGeometry(QuaZipFile& file, fileIo::VlrZipFile& stream, const QString& name) {
    const int number = entryNumber(name, kGeometryFolder, QStringLiteral(".vsg"));
    if (number < 0 || meshes_.count(number) || meshes_.size() >= kMaxProjectObjects) {
        logString("Bad or repeated geometry entry: " + name.toStdString());
        return IO_MISC_ERROR;
    }
    std::unique_ptr<topolib::StlObject> mesh = makeMesh_();
    const IO_ERROR result = readGeometryEntry(file, stream, *mesh, meshReady_);
    if (result != IO_SUCCESS) {
        logString("Load object file '" + name.toStdString() + "' failed");
        return result;
    }
    const size_t k = meshes_.size();
    meshes_.emplace(number, std::move(mesh));
    if (k < weights_.size()) {
        progressSum_ += weights_[k];
        progress_.report(progressSum_);
    }
    return IO_SUCCESS;
}

// The one descriptor, read to its end and closed; then the memory for every
// object it declares is asked for, and the geometry entries are weighed.
IO_ERROR ArchiveReading::readDescriptorEntry(QuaZipFile& file) {
    if (haveDescriptor_)
        return IO_MISC_ERROR;
    haveDescriptor_ = true;
    if (!readDescriptor(&file, out_.descriptor))
        return file.getZipError() != UNZ_OK ? IO_ZIP_FAILED : IO_XML_FAILED;
    IO_ERROR result = drainXml(file, descriptorBounds());
    if (result == IO_SUCCESS && !closeEntry(file))
        result = IO_ZIP_FAILED;
    if (result != IO_SUCCESS)
        return result;
    if (!memoryAllows(declaredObjectBytes(out_.descriptor)))
        return IO_NOT_ENOUGH_MEMORY;
    weighGeometryEntries();
    return IO_SUCCESS;
}

// The geometry entries' shares of the progress, by the triangle counts of the
// descriptor's records; a scene of no triangles reports nothing in between.
void ArchiveReading::weighGeometryEntries() {
    double total = 0;
    for (const ProjectObjectInfo& o : out_.descriptor.objects)
        total += o.numberTriangles;
    if (total > 0)
        for (const ProjectObjectInfo& o : out_.descriptor.objects)
            weights_.push_back(o.numberTriangles / total);
}

// A support entry is read against its object's mesh; before that mesh is
// read, the entry is closed and put off by name.
IO_ERROR ArchiveReading::readOrPutOffSupport(QuaZipFile& file, int number, const QString& name) {
    if (const auto mesh = meshes_.find(number); mesh != meshes_.end())
        return readSupport(file, *mesh->second, number, out_);
    pendingSupports_.emplace(number, name);
    return closeEntry(file) ? IO_SUCCESS : IO_ZIP_FAILED;
}

IO_ERROR ArchiveReading::readPendingSupports() {
    for (const auto& [number, name] : pendingSupports_) {
        const auto mesh = meshes_.find(number);
        if (mesh == meshes_.end())
            continue;
        fileIo::VlrZipFile stream(&zip_);
        QuaZipFile& file = stream.device();
        if (!zip_.setCurrentFile(name, QuaZip::csSensitive) || !file.open(QIODevice::ReadOnly))
            return IO_ZIP_FAILED;
        const IO_ERROR result = readSupport(file, *mesh->second, number, out_);
        if (result != IO_SUCCESS)
            return result;
    }
    return IO_SUCCESS;
}

// As many distinct numbers as records, the largest records - 1: they are
// exactly 0 .. records - 1.
bool ArchiveReading::numbersMatchRecords() const {
    const size_t records = out_.descriptor.objects.size();
    return meshes_.size() == records &&
           (records == 0 || meshes_.rbegin()->first == static_cast<int>(records) - 1);
}

// The descriptor counts each object's triangles: an entry that brings none of
// them, or more, is not the object that was saved. (Files of earlier versions
// may count a few triangles their entry left out.)
bool ArchiveReading::triangleCountsMatch() const {
    for (size_t r = 0; r < out_.meshes.size(); ++r) {
        const uint64_t declared = out_.descriptor.objects[r].numberTriangles;
        const uint64_t read = out_.meshes[r]->triangles().size();
        if (declared > 0 && (read == 0 || read > declared)) {
            logString("Object " + std::to_string(r) + ": the geometry entry holds " + std::to_string(read) +
                      " triangles, the descriptor " + std::to_string(declared));
            return false;
        }
    }
    return true;
}

void ArchiveReading::dropSupportsOfNoRecord() {
    const int records = static_cast<int>(out_.descriptor.objects.size());
    for (auto it = out_.supports.begin(); it != out_.supports.end();)
        it = it->first < records ? std::next(it) : out_.supports.erase(it);
}

IO_ERROR ArchiveReading::handOver() {
    if (!haveDescriptor_) {
        logText("No project descriptor in the archive");
        return IO_MISC_ERROR;
    }
    if (!numbersMatchRecords()) {
        logText("_localObjectExList.size() != _qalmObjInforList.size");
        return IO_MISC_ERROR;
    }
    out_.meshes.reserve(meshes_.size());
    for (auto& entry : meshes_)
        out_.meshes.push_back(std::move(entry.second));
    if (!triangleCountsMatch()) {
        out_ = ProjectContents();
        return IO_LOAD_OBJECT_FAILED;
    }
    dropSupportsOfNoRecord();
    // The cones' meshes are built when the objects enter the scene: their
    // memory is asked for now, before anything reaches it.
    uint64_t cones = 0;
    for (const auto& entry : out_.supports)
        cones += coneCount(entry.second);
    if (cones > 0 && !memoryAllows(cones * kConeMeshBytes)) {
        logText("Not enough memory for the support cones of the project");
        out_ = ProjectContents();
        return IO_NOT_ENOUGH_MEMORY;
    }
    return IO_SUCCESS;
}

IO_ERROR readArchive(QuaZip& zip, const MeshFactory& makeMesh, ProjectContents& out,
                     const ProgressMonitor& progress, const MeshReadyFunction& meshReady) {
    out = ProjectContents();
    // One memory check per geometry entry: the figures are read once for
    // many small objects, not once for each.
    const MemoryCheckRun memoryRun;
    if (!zip.open(QuaZip::mdUnzip))
        return IO_ZIP_FAILED;
    ArchiveReading reading(zip, makeMesh, out, progress, meshReady);
    IO_ERROR result = reading.readEntries();
    if (result == IO_SUCCESS)
        result = reading.readPendingSupports();
    if (result == IO_SUCCESS && zip.getZipError() != UNZ_OK)
        result = IO_ZIP_FAILED;
    zip.close();
    return result == IO_SUCCESS ? reading.handOver() : result;
}

} // namespace

} // namespace project
