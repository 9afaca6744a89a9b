#include "app/Startup.h"

#include "app/Log.h"
#include "app/Platform.h"

#include <QDir>
#include <csignal>
#include <cstdint>
#include <malloc.h>

QString logFileNameFor(const QDateTime& time) {
    return time.toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss")) + QStringLiteral(".log");
}

QString openRunLog(const QString& dataDir, const QDateTime& time) {
    if (!QDir(dataDir).exists())
        QDir().mkpath(dataDir);
    const QString logs = dataDir + QStringLiteral("/Logs");
    if (!QDir(logs).exists())
        QDir().mkpath(logs);
    const QString path = logs + QLatin1Char('/') + logFileNameFor(time);
    logOpen(path.toStdString());
    return path;
}

double physicalGiB(uint64_t bytes) {
    return static_cast<double>(static_cast<float>(bytes) * 9.313226e-10f);
}

void writeSystemReport(unsigned int processors, uint64_t physicalBytes) {
    logText("=============System info CPU & RAM================", true);
    logText("Number of processors: ", false);
    logInt(static_cast<int>(processors), nullptr, true);
    logText("Physical RAM: ", false);
    logDouble(physicalGiB(physicalBytes));
    logText("===========================================", true);
    logText("", true);
}

void ignoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

void shareHeapUnderAddressLimit() {
    if (platform::addressSpaceLimit() != UINT64_MAX)
        mallopt(M_ARENA_MAX, 1);
}
