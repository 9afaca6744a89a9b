#include "app/Platform.h"

#include <QFile>
#include <QStandardPaths>
#include <QUuid>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Reads "<key>: <number> kB" lines of a /proc file and returns the sum of
// the listed keys in bytes; ok is false when the file cannot be read or a
// key is missing.
uint64_t sumProcKilobytes(const char* file, std::initializer_list<const char*> keys, bool* ok) {
    *ok = false;
    FILE* f = std::fopen(file, "r");
    if (!f)
        return 0;
    uint64_t total = 0;
    size_t found = 0;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        for (const char* key : keys) {
            const size_t len = std::strlen(key);
            if (std::strncmp(line, key, len) == 0 && line[len] == ':') {
                unsigned long long kb = 0;
                if (std::sscanf(line + len + 1, "%llu", &kb) == 1) {
                    total += static_cast<uint64_t>(kb) * 1024u;
                    ++found;
                }
            }
        }
    }
    std::fclose(f);
    *ok = found == keys.size();
    return total;
}

} // namespace

unsigned int processorCount() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned int>(n) : 1u;
}

uint64_t totalPhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

uint64_t availablePhysicalMemory() {
    bool ok = false;
    const uint64_t bytes = sumProcKilobytes("/proc/meminfo", {"MemAvailable"}, &ok);
    return ok ? bytes : 0;
}

uint64_t processPrivateBytes() {
    bool ok = false;
    const uint64_t bytes = sumProcKilobytes("/proc/self/status", {"RssAnon", "VmSwap"}, &ok);
    return ok ? bytes : 0;
}

QString applicationDataBase() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base.isEmpty() ? QStringLiteral("/tmp") : base;
}

QString newGuidText() {
    return QUuid::createUuid().toString().toUpper();
}

unsigned int userId() {
    return static_cast<unsigned int>(getuid());
}

bool makePrivateDirectory(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) == 0)
        return true;
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return false;
    if ((st.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return false;
    return true;
}

QString makeUniquePrivateDirectory(const QString& prefix) {
    QByteArray pattern = QFile::encodeName(prefix + QStringLiteral("-XXXXXX"));
    // mkdtemp creates the folder with mode 0700.
    if (!::mkdtemp(pattern.data()))
        return QString();
    return QFile::decodeName(pattern);
}

} // namespace platform
