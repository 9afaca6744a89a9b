// Files and paths a user meets: names that are not UTF-8, saves into folders
// that are not writable, hard links and files of other owners, a file size
// limit, pipes, input without a size, and the reason a read failed.

#include "SmallDisk.h"
#include "StlFixtures.h"
#include "WithoutRoot.h"

#include "app/MemoryCheck.h"
#include "app/Platform.h"
#include "app/Startup.h"
#include "fileIo/MeshFileLoad.h"
#include "fileIo/PathEncoding.h"
#include "fileIo/ReplacementFile.h"
#include "fileIo/StlFileHandling.h"
#include "fileIo/VGeoFileHandling.h"
#include "topolib/RecordArena.h"
#include "topolib/StlObject.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <istream>
#include <sstream>
#include <streambuf>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace fileIo;
using namespace stlfixtures;
using testsupport::kNobody;
using testsupport::runWithoutRoot;
using testsupport::SmallDisk;

namespace {

class FilesAndPaths : public ::testing::Test {
protected:
    void SetUp() override {
        installMemoryCheck([](const uint64_t&) { return true; });
        base = dir.path().toStdString();
    }
    void TearDown() override { installMemoryCheck(nullptr); }

    std::string bytesOf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Writes the cube of `mesh` as a binary STL to the (byte) path.
    int saveStl(topolib::StlObject& mesh, const std::string& path) {
        StlFileHandling writer;
        writer.setTarget(&mesh);
        return writer.writeBinaryMesh(decodePath(path));
    }

    QTemporaryDir dir;
    std::string base;
};

// A read buffer over a string that cannot tell its size (like a pipe).
class UnsizedBuffer : public std::streambuf {
public:
    explicit UnsizedBuffer(std::string bytes) : bytes_(std::move(bytes)) {
        setg(bytes_.data(), bytes_.data(), bytes_.data() + bytes_.size());
    }

protected:
    pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override { return pos_type(-1); }
    pos_type seekpos(pos_type, std::ios_base::openmode) override { return pos_type(-1); }

private:
    std::string bytes_;
};

} // namespace

TEST_F(FilesAndPaths, latin1FileNamesOpenAndSaveWithoutLoss) {
    const std::string name = base + "/W\xfcrfel.stl";
    ASSERT_TRUE(writeFile(name, binaryStl(cube())));
    const std::wstring path = decodePath(name);
    EXPECT_EQ(encodePath(path), name);
    EXPECT_EQ(decodePath(base + "/Gr\xc3\xb6\xc3\x9f" "e.stl"), decodePath(base) + L"/Gr\u00f6\u00dfe.stl");

    topolib::StlObject mesh;
    ASSERT_EQ(fileIo::loadMeshFile(mesh, path).result, topolib::LoadResult::Success);
    EXPECT_EQ(mesh.triangleCount(), 12u);

    const std::string copy = base + "/Kopie \xe9t\xe9.stl";
    ASSERT_EQ(saveStl(mesh, copy), kSuccess);
    struct stat st {};
    ASSERT_EQ(::stat(copy.c_str(), &st), 0);
    EXPECT_EQ(bytesOf(copy).size(), 84u + 12u * 50u);
    VGeoFileHandling vgeo;
    vgeo.setTarget(&mesh);
    ASSERT_EQ(vgeo.writeFile(decodePath(base + "/W\xfcrfel.vsg")), kSuccess);
    topolib::StlObject back;
    ASSERT_EQ(fileIo::loadMeshFile(back, decodePath(base + "/W\xfcrfel.vsg")).result,
              topolib::LoadResult::Success);
    EXPECT_EQ(back.triangleCount(), 12u);
}

TEST_F(FilesAndPaths, savesReplaceTheFileWholeOrLeaveItAsItWasAndSayWhy) {
    topolib::StlObject mesh;
    ASSERT_TRUE(writeFile(base + "/cube.stl", binaryStl(cube())));
    ASSERT_EQ(fileIo::loadMeshFile(mesh, decodePath(base + "/cube.stl")).result,
              topolib::LoadResult::Success);
    auto save = [&](const std::string& path, SaveReport* report) {
        return exportBinaryStl(decodePath(path), mesh.triangles(), report) == kSuccess;
    };
    const std::string expected = [&] {
        EXPECT_TRUE(save(base + "/reference.stl", nullptr));
        return bytesOf(base + "/reference.stl");
    }();
    // Only the listed names (and nothing hidden) are left in a folder.
    auto onlyFiles = [](const std::string& folder, std::vector<std::string> names) {
        std::vector<std::string> found;
        if (DIR* d = ::opendir(folder.c_str())) {
            while (const dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    found.emplace_back(e->d_name);
            ::closedir(d);
        }
        std::sort(found.begin(), found.end());
        std::sort(names.begin(), names.end());
        return found == names;
    };
    struct stat st {};

    // A hard link: the chosen name gets the new file, the other name keeps
    // the old one, and the caller hears of it.
    const std::string linked = base + "/linked.stl", other = base + "/other-name.stl";
    ASSERT_TRUE(writeFile(linked, "old"));
    ASSERT_EQ(::link(linked.c_str(), other.c_str()), 0);
    SaveReport report;
    ASSERT_TRUE(save(linked, &report));
    EXPECT_TRUE(report.linksLeftBehind);
    EXPECT_EQ(bytesOf(linked), expected);
    EXPECT_EQ(bytesOf(other), "old");
    ASSERT_TRUE(save(base + "/reference.stl", &report));
    EXPECT_FALSE(report.linksLeftBehind);

    // A symbolic link stays a link to the new file, also when the file it
    // names does not exist yet.
    const std::string pointer = base + "/pointer.stl", pointed = base + "/pointed.stl";
    const std::string dangling = base + "/dangling.stl", created = base + "/created.stl";
    ASSERT_TRUE(writeFile(pointed, "old"));
    ASSERT_EQ(::symlink(pointed.c_str(), pointer.c_str()), 0);
    ASSERT_EQ(::symlink("created.stl", dangling.c_str()), 0);
    for (const std::string& link : {pointer, dangling}) {
        ASSERT_TRUE(save(link, nullptr)) << link;
        struct stat ls {};
        ASSERT_EQ(::lstat(link.c_str(), &ls), 0);
        EXPECT_TRUE(S_ISLNK(ls.st_mode)) << link;
    }
    EXPECT_EQ(bytesOf(pointed), expected);
    EXPECT_EQ(bytesOf(created), expected);

    // Mode bits of the replaced file stay.
    const std::string modeFile = base + "/mode.stl";
    ASSERT_TRUE(writeFile(modeFile, "old"));
    ASSERT_EQ(::chmod(modeFile.c_str(), 0640), 0);
    ASSERT_TRUE(save(modeFile, nullptr));
    ASSERT_EQ(::stat(modeFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // What cannot be replaced whole is refused, never written in place.
    const std::string fifo = base + "/pipe.stl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    EXPECT_FALSE(save(fifo, &report));
    EXPECT_EQ(report.failure, SaveFailure::NotRegular);
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // A file the user marked read-only is kept, also by root, whom the
    // system would let write it.
    const std::string kept = base + "/kept.stl";
    ASSERT_TRUE(writeFile(kept, "old"));
    ASSERT_EQ(::chmod(kept.c_str(), 0444), 0);
    EXPECT_FALSE(save(kept, &report));
    EXPECT_EQ(report.failure, SaveFailure::ReadOnly);
    EXPECT_EQ(bytesOf(kept), "old");

    // A folder that "nobody" may not write, holding a file that "nobody" may;
    // and a file of another owner (root) in a folder everybody may write.
    const std::string locked = base + "/locked", open = base + "/open";
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(base.c_str(), 0755), 0);
    const std::string inLocked = locked + "/model.stl", foreign = open + "/model.stl";
    ASSERT_TRUE(writeFile(inLocked, "old"));
    ASSERT_TRUE(writeFile(foreign, "old"));
    ASSERT_EQ(::chmod(foreign.c_str(), 0666), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(::chown(inLocked.c_str(), kNobody, kNobody), 0);
        // Root may give the replacement the owner of the file it replaces.
        ASSERT_TRUE(save(inLocked, nullptr));
        ASSERT_EQ(::stat(inLocked.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kNobody);
        EXPECT_EQ(st.st_gid, kNobody);
        ASSERT_TRUE(writeFile(inLocked, "old"));
    } else {
        ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    }
    const struct {
        std::string path;
        SaveFailure why;
    } refused[] = {{inLocked, SaveFailure::FolderLocked}, {foreign, SaveFailure::OtherOwner}};
    for (const auto& c : refused) {
        SCOPED_TRACE(c.path);
        if (geteuid() != 0 && c.why == SaveFailure::OtherOwner)
            continue; // the file is this user's own: nothing to refuse
        EXPECT_TRUE(runWithoutRoot([&] {
            SaveReport r;
            return !save(c.path, &r) && r.failure == c.why;
        }));
        EXPECT_EQ(bytesOf(c.path), "old");
    }
    EXPECT_TRUE(onlyFiles(locked, {"model.stl"}));
    EXPECT_TRUE(onlyFiles(open, {"model.stl"}));
    // Nothing but the new file itself would be made in the folder.
    EXPECT_TRUE(runWithoutRoot([&] { return !save(locked + "/new.stl", nullptr); }));
    EXPECT_TRUE(onlyFiles(locked, {"model.stl"}));
    ::chmod(locked.c_str(), 0755);

    // A full disk: the old file stays whole and the reason is the disk.
    const std::string small = base + "/small";
    ASSERT_EQ(::mkdir(small.c_str(), 0755), 0);
    SmallDisk disk(small, 64);
    if (!disk.mounted())
        GTEST_SKIP() << SmallDisk::skipReason();
    const std::string old(36 * 1024, 'x'), full = small + "/model.stl";
    ASSERT_TRUE(writeFile(full, old));
    topolib::StlObject big;
    ASSERT_TRUE(writeFile(base + "/torus.stl", binaryStl(torus(40, 40))));
    ASSERT_EQ(fileIo::loadMeshFile(big, decodePath(base + "/torus.stl")).result,
              topolib::LoadResult::Success);
    ASSERT_NE(exportBinaryStl(decodePath(full), big.triangles(), &report), kSuccess);
    EXPECT_EQ(report.failure, SaveFailure::DiskFull);
    EXPECT_STREQ(saveFailureText(report.failure), "The disk is full.");
    EXPECT_EQ(bytesOf(full), old);
    EXPECT_TRUE(onlyFiles(small, {"model.stl"}));
}

TEST_F(FilesAndPaths, aSaveBeyondTheFileSizeLimitFailsWithoutEndingTheProgram) {
    topolib::StlObject mesh;
    ASSERT_TRUE(writeFile(base + "/torus.stl", binaryStl(torus(40, 40))));
    ASSERT_EQ(fileIo::loadMeshFile(mesh, decodePath(base + "/torus.stl")).result,
              topolib::LoadResult::Success);
    const std::string target = base + "/big.stl";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // What the program does at start; then a limit far below the file.
        ignoreFileSizeSignal();
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 4000;
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(saveStl(mesh, target) == kFailure ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
}

TEST_F(FilesAndPaths, inputWithoutASizeGrowsWithWhatArrives) {
    // 234 bytes that claim 0xFFFFFFFF facets: three facets follow.
    std::string bytes = binaryStl(cube()).substr(0, 84 + 3 * 50);
    bytes[80] = bytes[81] = bytes[82] = bytes[83] = '\xff';
    ASSERT_EQ(bytes.size(), 234u);
    UnsizedBuffer buffer(bytes);
    std::istream in(&buffer);
    topolib::StlObject mesh;
    StlFileHandling reader;
    reader.setTarget(&mesh);
    ASSERT_EQ(reader.readBinaryFrom(in), kSuccess);
    EXPECT_EQ(mesh.triangleCount(), 3u);
    EXPECT_LE(mesh.triangleCapacity(), 1u << 16);

    // A long stream grows past its first step.
    const auto many = torus(300, 300);
    UnsizedBuffer longBuffer(binaryStl(many));
    std::istream longIn(&longBuffer);
    topolib::StlObject big;
    reader.setTarget(&big);
    ASSERT_EQ(reader.readBinaryFrom(longIn), kSuccess);
    EXPECT_EQ(big.triangleCount(), many.size());
}

// A binary file that declares more facets than one file may bring is read up
// to the limit and the user told, as a file cut short is, from a file or from
// input without a size.
TEST_F(FilesAndPaths, binaryFacetsBeyondTheLimitAreToldAsACutFileIs) {
    const auto six = torus(3, 3);
    const std::vector<Facet> first6(six.begin(), six.begin() + 6), first3(six.begin(), six.begin() + 3);
    const struct {
        const char* what;
        std::string bytes;
        bool sized;
        uint32_t triangles;
        std::string note; // "": none
    } cases[] = {
        {"six of six", binaryStl(first6), true, 5, "The file declares 6 facets, more than the 5 one file may bring; "
                                                    "5 facets were read."},
        {"six of six, no size", binaryStl(first6), false, 5,
         "The file declares 6 facets, more than the 5 one file may bring; 5 facets were read."},
        {"nine, six present", binaryStl(first6, "h", 9), true, 5,
         "The file declares 9 facets, its size holds 6, more than the 5 one file may bring; 5 facets were read."},
        {"nine, three present, no size", binaryStl(first3, "h", 9), false, 3,
         "The file declares 9 facets, its size holds 3; 3 facets were read."},
        {"five of five", binaryStl(std::vector<Facet>(six.begin(), six.begin() + 5)), true, 5, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::istringstream sized(c.bytes);
        UnsizedBuffer buffer(c.bytes);
        std::istream unsized(&buffer);
        topolib::StlObject mesh;
        StlFileHandling reader;
        reader.setTarget(&mesh);
        reader.setBinaryFacetLimit(5);
        ASSERT_EQ(reader.readBinaryFrom(c.sized ? static_cast<std::istream&>(sized) : unsized), kSuccess);
        EXPECT_EQ(mesh.triangleCount(), c.triangles);
        EXPECT_EQ(reader.loadNotes(), c.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.note});
    }
}

TEST_F(FilesAndPaths, aFailedReadSaysWhy) {
    const std::string garbage = base + "/garbage.stl", empty = base + "/empty.stl", folder = base + "/folder.stl";
    const std::string fifo = base + "/pipe.stl", locked = base + "/locked.stl", cube = base + "/cube.stl";
    ASSERT_TRUE(writeFile(garbage, "0123456789"));
    ASSERT_TRUE(writeFile(empty, ""));
    ASSERT_TRUE(writeFile(cube, binaryStl(stlfixtures::cube())));
    ASSERT_TRUE(writeFile(locked, binaryStl(stlfixtures::cube())));
    ASSERT_EQ(::chmod(locked.c_str(), 0200), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(base.c_str(), 0755), 0);

    const struct {
        std::string path;
        ReadFailure why;
    } cases[] = {
        {base + "/missing.stl", ReadFailure::Missing},
        {garbage, ReadFailure::NotMeshFile},
        {empty, ReadFailure::Empty},
        {folder, ReadFailure::NotRegular},
        {fifo, ReadFailure::NotRegular}, // a pipe without a writer: no hang
        {base + "/model.xyz", ReadFailure::NoHandler},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        topolib::StlObject mesh;
        const auto start = std::chrono::steady_clock::now();
        const LoadOutcome outcome = loadMeshFile(mesh, decodePath(c.path));
        EXPECT_NE(outcome.result, topolib::LoadResult::Success);
        EXPECT_EQ(outcome.failure, c.why) << readFailureText(outcome.failure);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    }
    EXPECT_TRUE(runWithoutRoot([&] {
        topolib::StlObject mesh;
        const LoadOutcome outcome = loadMeshFile(mesh, decodePath(locked));
        return outcome.result != topolib::LoadResult::Success && outcome.failure == ReadFailure::NotReadable;
    }));

    installMemoryCheck([](const uint64_t&) { return false; });
    topolib::StlObject refused;
    const LoadOutcome tooLarge = loadMeshFile(refused, decodePath(cube));
    EXPECT_EQ(tooLarge.result, topolib::LoadResult::NotEnoughMemory);
    EXPECT_EQ(tooLarge.failure, ReadFailure::TooLarge);
    EXPECT_STREQ(readFailureText(ReadFailure::TooLarge), "too large for the available memory");

    installMemoryCheck([](const uint64_t&) { return true; });
    topolib::StlObject fine;
    const LoadOutcome read = loadMeshFile(fine, decodePath(cube));
    EXPECT_EQ(read.result, topolib::LoadResult::Success);
    EXPECT_EQ(read.failure, ReadFailure::None);
}

// Without room for the record window (an address-space limit below it) no
// mesh can be made: the import of any file, in either format, fails as one
// too large for the memory (the message the user knows), never as a damaged
// file, and the program goes on. Each step runs in a child process: the
// window of this one must stay unreserved.
TEST_F(FilesAndPaths, withoutTheRecordWindowEveryImportFailsForLackOfMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory fills the address space";
#endif
    if (topolib::arena::base() != reinterpret_cast<char*>(std::uintptr_t(0) - topolib::arena::kMaxWindowBytes))
        GTEST_SKIP() << "an earlier test of this process reserved the window already";
    auto exitCodeOf = [](const std::function<int()>& body) {
        const pid_t child = fork();
        if (child == 0)
            _exit(body());
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    };
    const std::string stl = base + "/cube.stl";
    const std::string vsg = base + "/cube.vsg";
    ASSERT_TRUE(writeFile(stl, binaryStl(cube())));
    ASSERT_EQ(exitCodeOf([&] {
                  topolib::StlObject mesh;
                  VGeoFileHandling writer;
                  writer.setTarget(&mesh);
                  return fileIo::loadMeshFile(mesh, decodePath(stl)).result == topolib::LoadResult::Success &&
                                 writer.writeFile(decodePath(vsg)) == kSuccess
                             ? 0
                             : 1;
              }),
              0);
    const int code = exitCodeOf([&] {
        installMemoryCheck(hasEnoughMemory); // the program's own check
        const uint64_t limit = platform::mappedBytes() + (uint64_t(32) << 20);
        const rlimit tight{rlim_t(limit), rlim_t(limit)};
        if (setrlimit(RLIMIT_AS, &tight) != 0)
            return 100;
        int failed = 0;
        for (const std::string& path : {stl, vsg}) {
            ++failed;
            topolib::StlObject mesh;
            const LoadOutcome outcome = loadMeshFile(mesh, decodePath(path));
            if (outcome.result != topolib::LoadResult::NotEnoughMemory ||
                outcome.failure != ReadFailure::TooLarge)
                return failed;
        }
        return 0;
    });
    EXPECT_EQ(code, 0) << "1: the STL file, 2: the geometry file";
}
