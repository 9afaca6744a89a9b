#pragma once
// The start-up steps of the program that follow the main window's
// construction: the data and log folders, the run's log and the system report.
#include <QDateTime>
#include <QString>
#include <cstdint>

// The log file name of a run started at time: "yyyy_MM_dd_HH_mm_ss.log".
QString logFileNameFor(const QDateTime& time);

// Creates dataDir and dataDir/Logs when missing and opens the run's log
// there, named after time. Returns the log file's path (the run goes on
// when any step fails; the log then stays silent).
QString openRunLog(const QString& dataDir, const QDateTime& time);

// Writes the system report (processor count, physical memory in GiB) between
// banners, followed by an empty line.
void writeSystemReport(unsigned int processors, uint64_t physicalBytes);

// Ignores SIGXFSZ for the whole process: a write past the file size limit
// then fails (EFBIG) and the save reports it, instead of the signal ending the
// program with its unsaved work.
void ignoreFileSizeSignal();

// Under an address-space limit (ulimit -v) lets every thread allocate from
// the program's one heap. The C library gives each thread that allocates a
// heap of its own, and each such heap reserves 64 MiB of address space: the
// renderer's threads and the import's would take more than a gigabyte of the
// limit before anything is loaded. Without a limit nothing changes. Call it
// before any thread is started.
void shareHeapUnderAddressLimit();

// Gibibytes as the report states them: computed in single precision.
double physicalGiB(uint64_t bytes);
