#include "app/Platform.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
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

namespace {

// The first number of a control-group file; "max" (no limit) and numbers of
// 2^62 and more (v1's "unlimited") give UINT64_MAX. ok false when unreadable.
uint64_t readLimitFile(const QString& path, bool* ok) {
    QFile f(path);
    *ok = f.open(QIODevice::ReadOnly);
    if (!*ok)
        return 0;
    const QByteArray text = f.readAll().trimmed();
    if (text == "max")
        return UINT64_MAX;
    const qulonglong v = text.toULongLong(ok);
    return v >= (1ull << 62) ? UINT64_MAX : static_cast<uint64_t>(v);
}

// A "key value" line of memory.stat; 0 when missing.
uint64_t statValue(const QString& path, const QByteArray& key) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2 && parts[0] == key)
            return parts[1].toULongLong();
    }
    return 0;
}

// The allowance of one group folder; UINT64_MAX without a readable limit.
uint64_t groupAllowance(const QString& folder, bool v2) {
    bool ok = false;
    const uint64_t limit = readLimitFile(folder + (v2 ? "/memory.max" : "/memory.limit_in_bytes"), &ok);
    if (!ok || limit == UINT64_MAX)
        return UINT64_MAX;
    const uint64_t usage = readLimitFile(folder + (v2 ? "/memory.current" : "/memory.usage_in_bytes"), &ok);
    if (!ok)
        return UINT64_MAX;
    const uint64_t cache = statValue(folder + "/memory.stat", v2 ? "inactive_file" : "total_inactive_file");
    const uint64_t used = usage > cache ? usage - cache : 0;
    return limit > used ? limit - used : 0;
}

} // namespace

namespace {

// Calls visit(folder, v2) for the group of /proc/self/cgroup's text that
// holds `controller` (the v2 group, or the v1 hierarchy listing it) and for
// each of its ancestors up to the hierarchy's root. v1 hierarchies are
// mounted in the controller's subfolder of mountRoot. When the listed group's
// folder is not there (a container sees its own group as the root), the
// mount's root is read.
template <typename Visit>
void forEachGroupFolder(const QString& procCgroup, const QString& mountRoot, const QString& controller,
                        const Visit& visit) {
    for (const QString& line : procCgroup.split('\n', Qt::SkipEmptyParts)) {
        // "hierarchy-id:controllers:path"; v2 has id 0 and no controllers.
        const int first = line.indexOf(':');
        const int second = first < 0 ? -1 : line.indexOf(':', first + 1);
        if (second < 0)
            continue;
        const QString controllers = line.mid(first + 1, second - first - 1);
        const QString path = line.mid(second + 1);
        const bool v2 = line.left(first) == "0" && controllers.isEmpty();
        if (!v2 && !controllers.split(',').contains(controller))
            continue;
        const QString root = v2 ? mountRoot : mountRoot + "/" + controller;
        QString folder = root + path;
        if (!QFileInfo(folder).isDir())
            folder = root;
        // The group and its ancestors up to the hierarchy's root.
        while (true) {
            visit(folder, v2);
            if (folder.size() <= root.size())
                break;
            folder = folder.left(folder.lastIndexOf('/'));
        }
    }
}

// The processors a group's CPU quota is worth, rounded up; 0 without a quota.
unsigned groupProcessorLimit(const QString& folder, bool v2) {
    qulonglong quota = 0;
    qulonglong period = 0;
    bool quotaOk = false;
    bool periodOk = false;
    if (v2) {
        // "max 100000" or "<quota> <period>".
        QFile f(folder + "/cpu.max");
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        const QList<QByteArray> parts = f.readAll().simplified().split(' ');
        if (parts.size() != 2)
            return 0;
        quota = parts[0].toULongLong(&quotaOk);
        period = parts[1].toULongLong(&periodOk);
    } else {
        // A quota of -1 (no limit) does not read as an unsigned number.
        QFile q(folder + "/cpu.cfs_quota_us");
        QFile p(folder + "/cpu.cfs_period_us");
        if (!q.open(QIODevice::ReadOnly) || !p.open(QIODevice::ReadOnly))
            return 0;
        quota = q.readAll().trimmed().toULongLong(&quotaOk);
        period = p.readAll().trimmed().toULongLong(&periodOk);
    }
    if (!quotaOk || !periodOk || quota == 0 || period == 0)
        return 0;
    const qulonglong processors = (quota + period - 1) / period;
    return static_cast<unsigned>(std::min<qulonglong>(processors, 1u << 16));
}

// The processors the calling thread may be scheduled on (0 when unknown).
unsigned affinityProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 0;
    return static_cast<unsigned>(CPU_COUNT(&set));
}

} // namespace

uint64_t cgroupMemoryAllowanceFrom(const QString& procCgroup, const QString& mountRoot) {
    uint64_t allowance = UINT64_MAX;
    forEachGroupFolder(procCgroup, mountRoot, QStringLiteral("memory"), [&](const QString& folder, bool v2) {
        allowance = std::min(allowance, groupAllowance(folder, v2));
    });
    return allowance;
}

unsigned int cgroupProcessorLimitFrom(const QString& procCgroup, const QString& mountRoot) {
    unsigned limit = 0;
    forEachGroupFolder(procCgroup, mountRoot, QStringLiteral("cpu"), [&](const QString& folder, bool v2) {
        const unsigned group = groupProcessorLimit(folder, v2);
        if (group != 0 && (limit == 0 || group < limit))
            limit = group;
    });
    return limit;
}

unsigned int usableProcessorCount() {
    // Quotas are set when a container starts: read once.
    static const unsigned quota = [] {
        QFile f(QStringLiteral("/proc/self/cgroup"));
        if (!f.open(QIODevice::ReadOnly))
            return 0u;
        return cgroupProcessorLimitFrom(QString::fromUtf8(f.readAll()), QStringLiteral("/sys/fs/cgroup"));
    }();
    unsigned count = affinityProcessorCount();
    if (count == 0)
        count = processorCount();
    if (quota != 0)
        count = std::min(count, quota);
    return std::max(count, 1u);
}

unsigned int busyProcessorsFrom(const char* loadavg, unsigned processors) {
    // Skip the three load averages to "runnable/total".
    const char* p = loadavg;
    for (int field = 0; field < 3; ++field) {
        while (*p == ' ')
            ++p;
        while (*p != '\0' && *p != ' ')
            ++p;
    }
    while (*p == ' ')
        ++p;
    unsigned long runnable = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9' && digits < 9; ++p, ++digits)
        runnable = runnable * 10 + static_cast<unsigned long>(*p - '0');
    if (digits == 0 || *p != '/' || runnable == 0)
        return 0;
    return static_cast<unsigned>(std::min<unsigned long>(runnable - 1, processors));
}

unsigned int passProcessorsFor(unsigned usable, unsigned busy) {
    usable = std::max(usable, 1u);
    return busy * 2 <= usable ? std::max(usable - busy, 1u) : usable;
}

unsigned int passProcessorCount() {
    const unsigned usable = usableProcessorCount();
    if (usable == 1 || usable < processorCount())
        return usable;
    char text[128];
    const int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return usable;
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return usable;
    text[got] = '\0';
    return passProcessorsFor(usable, busyProcessorsFrom(text, usable));
}

uint64_t cgroupMemoryAllowance() {
    QFile f(QStringLiteral("/proc/self/cgroup"));
    if (!f.open(QIODevice::ReadOnly))
        return UINT64_MAX;
    return cgroupMemoryAllowanceFrom(QString::fromUtf8(f.readAll()), QStringLiteral("/sys/fs/cgroup"));
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

QString hostTag() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    uint32_t hash = 2166136261u; // FNV-1a
    for (const char* c = name; *c; ++c)
        hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    return QStringLiteral("%1").arg(hash, 8, 16, QLatin1Char('0'));
}

uint64_t addressSpaceLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return UINT64_MAX;
    return static_cast<uint64_t>(limit.rlim_cur);
}

uint64_t mappedBytes() {
    // A /proc file has no size: read it whole rather than asking for its end.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toULongLong() * 1024;
    return 0;
}

QByteArray processMark(qint64 pid) {
    if (pid <= 0)
        return QByteArray();
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return QByteArray();
    // The command name (field 2) may hold blanks and parentheses: the fields
    // after it start behind the last ')'. The start time is field 22.
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return QByteArray();
    const QList<QByteArray> fields = text.mid(close + 1).simplified().split(' ');
    if (fields.size() < 20)
        return QByteArray();
    return QByteArray::number(pid) + ' ' + fields[19];
}

QByteArray currentProcessMark() {
    return processMark(static_cast<qint64>(::getpid()));
}

bool processMarkIsLive(const QByteArray& mark) {
    const QList<QByteArray> parts = mark.trimmed().split(' ');
    if (parts.size() != 2)
        return false;
    bool ok = false;
    const qint64 pid = parts[0].toLongLong(&ok);
    return ok && !mark.trimmed().isEmpty() && processMark(pid) == mark.trimmed();
}

} // namespace platform
