// The development tools as their own processes: meshinfo writes files as the
// application does, so a write past the file size limit fails with a message
// instead of the signal ending the tool.

#include "IslandShapes.h"
#include "MeshFixtures.h"
#include "tests/fileIo/StlFixtures.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Runs meshinfo with `args` under a file size limit of `limitBytes` (its
// standard output thrown away); the wait status, -1 when it could not run.
int runMeshinfoWithFileSizeLimit(const std::vector<std::string>& args, rlim_t limitBytes) {
    std::vector<char*> argv;
    std::string program = MESHINFO_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = limitBytes;
        setrlimit(RLIMIT_FSIZE, &limit);
        if (!std::freopen("/dev/null", "w", stdout))
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -1;
    return status;
}

TEST(Tools, meshinfoWritingPastTheFileSizeLimitFailsInsteadOfEndingBySignal) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string model = dir.filePath("torus.stl").toStdString();
    // About 160 kB: the tool's own writes of it exceed the 64 kB limit.
    ASSERT_TRUE(stlfixtures::writeFile(model, stlfixtures::binaryStl(stlfixtures::torus(40, 40))));
    const struct {
        const char* what;
        std::vector<std::string> args;
    } cases[] = {
        {"support output", {model, "--support", "--out", dir.filePath("supported.stl").toStdString()}},
        {"gcode work file", {model, "--gcode", dir.filePath("out.gcode").toStdString()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int status = runMeshinfoWithFileSizeLimit(c.args, 64 * 1024);
        ASSERT_NE(status, -1);
        EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    }
}

// A screw 55 mm long standing on its tip: a shank of radius 2.5 with a
// thread of 0.7 every 1.2 mm, under a head of radius 8 and 5 mm high; a
// surface of revolution of 24 sides, wound outward.
meshfixtures::TriangleSoup screw() {
    std::vector<std::array<double, 2>> profile{{0.0, 0.0}, {2.5, 0.0}}; // (radius, z) upwards
    for (double z = 0.5; z < 48.0; z += 1.2) {
        profile.push_back({3.2, z});
        profile.push_back({2.5, z + 0.6});
    }
    for (const std::array<double, 2>& p : {std::array<double, 2>{2.5, 50.0}, {8.0, 50.0}, {8.0, 55.0}, {0.0, 55.0}})
        profile.push_back(p);
    const int sides = 24;
    const double pi = 3.14159265358979323846;
    auto at = [&](const std::array<double, 2>& p, int k) {
        const double a = 2.0 * pi * k / sides;
        return meshfixtures::Point{p[0] * std::cos(a), p[0] * std::sin(a), p[1]};
    };
    meshfixtures::TriangleSoup soup;
    for (size_t i = 0; i + 1 < profile.size(); ++i)
        for (int k = 0; k < sides; ++k) {
            const auto a = at(profile[i], k), b = at(profile[i], k + 1);
            const auto c = at(profile[i + 1], k + 1), d = at(profile[i + 1], k);
            if (profile[i][0] > 0.0)
                soup.push_back({{a, b, c}});
            if (profile[i + 1][0] > 0.0)
                soup.push_back({{a, c, d}});
        }
    return soup;
}

// Models fitted to 60 mm, saved with their supports as a project and opened
// again: every cone, link, bar and support triangle comes back (meshinfo's
// same=1). A lumpy organic body, a screw tilted 45 degrees about x and y,
// machined parts (one upside down) and machine-part-like extrusions turned to
// hang over at many angles; each alone, and all in one project with cones and
// bars deleted by hand.
TEST(Tools, meshinfoProjectBringsBackEverySupportOfModelsFittedTo60mm) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<std::string> files;
    auto add = [&](const std::string& name, const meshfixtures::TriangleSoup& soup) {
        files.push_back(dir.filePath(QString::fromStdString(name + ".stl")).toStdString());
        ASSERT_TRUE(stlfixtures::writeFile(files.back(), stlfixtures::binaryStl(meshfixtures::toStlFacets(
                                                             meshfixtures::fitted(soup, 60.0)))));
    };
    add("blob", meshfixtures::irregularIcosphere(10.0, 3, 5));
    add("screw", islandshapes::turned(islandshapes::turned(screw(), {1, 0, 0}, 45.0), {0, 1, 0}, 45.0));
    const std::vector<islandshapes::Rotation> turns = islandshapes::randomRotations(6, 57);
    int k = 0;
    add("housing upside down", islandshapes::turned(meshfixtures::machinedHousing(), {1, 0, 0}, 180.0));
    add("bracket", meshfixtures::machinedBracket());
    for (const islandshapes::Shape& shape : islandshapes::all())
        if (shape.name == "bridge" || shape.name == "ledge" || shape.name == "arch") {
            add(shape.name, islandshapes::turned(shape.soup, turns[size_t(k)].axis, turns[size_t(k)].degrees));
            ++k;
        }
    std::vector<std::string> runs;
    for (const std::string& file : files)
        runs.push_back("'" + file + "'");
    runs.push_back("--delete 3");
    for (const std::string& file : files)
        runs.back() += " '" + file + "'";
    for (const std::string& run : runs) {
        SCOPED_TRACE(run);
        std::string command = std::string(MESHINFO_PATH) + " --project '" +
                              dir.filePath("out.vpf").toStdString() + "' " + run + " 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        EXPECT_EQ(pclose(pipe), 0);
        EXPECT_NE(out.find("project result=0"), std::string::npos) << out;
        EXPECT_NE(out.find(" same=1"), std::string::npos) << out;
        EXPECT_EQ(out.find(" links=0 "), std::string::npos) << out;
    }
}

} // namespace
