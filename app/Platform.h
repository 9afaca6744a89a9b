#pragma once
// The few facts the program takes from the operating system, in one place:
// processor count, memory figures, the per-user data base folder and GUIDs.
#include <QByteArray>
#include <QString>
#include <cstdint>

namespace platform {

// Number of processors online (at least 1).
unsigned int processorCount();
// The processors the calling thread can use, which is what a pool of
// workers should be sized by: those of its affinity mask (taskset, a
// container's cpuset), fewer when a CPU control group's quota is worth less
// (cgroupProcessorLimitFrom). At least 1.
unsigned int usableProcessorCount();
// The processors a CPU quota allows, rounded up, from a /proc/self/cgroup
// text and the cgroup mount folder: the smallest over the process's group and
// its ancestors (v2 cpu.max, v1 cpu.cfs_quota_us / cpu.cfs_period_us in the
// "cpu" subfolder). 0 when no group sets a quota.
unsigned int cgroupProcessorLimitFrom(const QString& procCgroup, const QString& mountRoot);
// The processors a pass split over threads should use now: the usable ones,
// or only those other programs leave free while those keep at most half of
// them busy (passProcessorsFor). The machine's load tells only for a process
// that may run on every processor; one held to some of them (an affinity
// mask, a quota) uses all it may.
unsigned int passProcessorCount();
// How many processors other programs keep busy, from the text of
// /proc/loadavg ("0.52 0.58 0.59 3/467 12345", the fourth field being
// runnable/total tasks): the runnable tasks other than the caller, at most
// `processors`; 0 when the text does not parse.
unsigned int busyProcessorsFrom(const char* loadavg, unsigned processors);
// A pass waits for its slowest thread, and a thread that shares its processor
// with a busy program runs at half speed or less. While at most half of the
// usable processors are busy the pass keeps to the free ones; when more are,
// threads on every processor still finish sooner than the few free ones.
unsigned int passProcessorsFor(unsigned usable, unsigned busy);
// Total physical memory in bytes (0 when unknown).
uint64_t totalPhysicalMemory();
// Physical memory available to new allocations: MemAvailable of
// /proc/meminfo in bytes (0 when unreadable).
uint64_t availablePhysicalMemory();
// What the process's memory control groups still allow: for each group from
// the process's own up to the root of the hierarchy that has a limit (cgroup
// v2 memory.max, v1 memory.limit_in_bytes), the limit minus the usage
// (memory.current / memory.usage_in_bytes) plus the reclaimable file cache
// (inactive_file / total_inactive_file of memory.stat); the smallest of them.
// UINT64_MAX when no group sets a limit or the groups cannot be read.
uint64_t cgroupMemoryAllowance();
// The same from a /proc/self/cgroup text and the folder where the cgroup
// file systems are mounted ("/sys/fs/cgroup"): v2 at the folder itself, v1 in
// its "memory" subfolder. When the listed group's folder is not there (a
// container sees its own group as the root), the mount's root is read.
uint64_t cgroupMemoryAllowanceFrom(const QString& procCgroup, const QString& mountRoot);
// The process's private bytes: RssAnon + VmSwap of /proc/self/status in
// bytes (0 when unreadable).
uint64_t processPrivateBytes();
// The process's address-space limit in bytes (UINT64_MAX: none).
uint64_t addressSpaceLimit();
// The bytes of address space the process has mapped (its virtual size).
uint64_t mappedBytes();
// The per-user application-data base folder (XDG data home), the stand-in
// for the machine-wide application-data folder. Never empty.
QString applicationDataBase();
// A short tag of this host's name (eight hexadecimal digits), so that files
// named after a process id are told apart from another host's in a shared folder.
QString hostTag();
// The current user's numeric id, used to keep temporary folders per user.
unsigned int userId();
// Makes path a folder only this user can use: creates it with mode 0700
// (parents must exist), or accepts an existing real folder (not a link) that
// this user owns, tightening its mode to 0700. False otherwise.
bool makePrivateDirectory(const QString& path);
// Creates a new uniquely named private folder "<prefix>-XXXXXX" and returns
// its path (an empty text on failure).
QString makeUniquePrivateDirectory(const QString& prefix);
// A text that names a running process for as long as it runs: its id and
// its start time, so that a later process given the same id does not match.
// Empty when no process pid runs.
QByteArray processMark(qint64 pid);
// processMark of this process.
QByteArray currentProcessMark();
// Whether the process a mark names still runs (false for an empty or
// malformed mark).
bool processMarkIsLive(const QByteArray& mark);

} // namespace platform
