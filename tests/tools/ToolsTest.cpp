// The development tools as their own processes: meshinfo writes files as the
// application does, so a write past the file size limit fails with a message
// instead of the signal ending the tool.

#include "tests/fileIo/StlFixtures.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

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

} // namespace
