#include "app/MemoryCheck.h"

#include "app/Platform.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>

MemoryCheckFunction MemoryCheckCallback;

namespace {

std::atomic<RecordRoomFunction> g_recordRoom{nullptr};

uint64_t availableMemoryFigures();

} // namespace

void setRecordRoomProvider(RecordRoomFunction provider) {
    g_recordRoom.store(provider);
}

void installMemoryCheck(MemoryCheckFunction check) {
    MemoryCheckCallback = std::move(check);
}

uint64_t availableMemoryFrom(uint64_t privateBytes, uint64_t freePhysical) {
    if (privateBytes > PRIVATE_MEMORY_BUDGET)
        return 0;
    return std::min(freePhysical, PRIVATE_MEMORY_BUDGET - privateBytes);
}

bool isRequestAffordable(uint64_t bytes, uint64_t available) {
    // Written without bytes + margin so that a huge request cannot wrap around.
    return available > MEMORY_SAFETY_MARGIN && available - MEMORY_SAFETY_MARGIN > bytes;
}

uint64_t availableMemory() noexcept {
    // Reading the figures may allocate (the control group's files): a
    // failure there leaves nothing to promise.
    try {
        return availableMemoryFigures();
    } catch (...) {
        return 0;
    }
}

namespace {

uint64_t availableMemoryFigures() {
    // Inside a memory-limited container the machine's free memory over-promises:
    // the group's remaining allowance counts as well.
    const uint64_t free = std::min(platform::availablePhysicalMemory(), platform::cgroupMemoryAllowance());
    uint64_t available = availableMemoryFrom(platform::processPrivateBytes(), free);
    const RecordRoomFunction recordRoom = g_recordRoom.load();
    const uint64_t records = recordRoom ? recordRoom() : UINT64_MAX;
    if (recordRoom)
        available = std::min(available, records > UINT64_MAX / 2 ? UINT64_MAX : 2 * records);
    // The record window's reservation is mapped but free for records.
    const uint64_t limit = platform::addressSpaceLimit();
    if (limit != UINT64_MAX) {
        const uint64_t mapped = platform::mappedBytes();
        const uint64_t unusedWindow = recordRoom ? records : 0;
        const uint64_t used = mapped > unusedWindow ? mapped - unusedWindow : 0;
        available = std::min(available, limit > used ? limit - used : 0);
    }
    return available;
}

} // namespace

namespace {
thread_local MemoryCheckRun* t_run = nullptr;
} // namespace

bool hasEnoughMemory(const uint64_t& bytes) noexcept {
    if (t_run)
        return t_run->allows(bytes);
    return isRequestAffordable(bytes, availableMemory());
}

MemoryCheckRun::MemoryCheckRun(Figures figures) : m_figures(figures), m_outer(t_run) {
    t_run = this;
}

MemoryCheckRun::~MemoryCheckRun() {
    t_run = m_outer;
}

void MemoryCheckRun::read() noexcept {
    m_available = m_figures();
    m_read = true;
    ++m_readings;
    m_grantedSinceRead = 0;
}

bool MemoryCheckRun::allows(uint64_t bytes) noexcept {
    const bool fresh = !m_read || m_grantedSinceRead > kRefreshBytes;
    if (fresh)
        read();
    // What the earlier grants will take is counted as taken; a refusal on
    // that estimate stands only on figures read for this request.
    const uint64_t left = m_available > m_grantedSinceRead ? m_available - m_grantedSinceRead : 0;
    if (!isRequestAffordable(bytes, left)) {
        if (fresh)
            return false;
        read();
        if (!isRequestAffordable(bytes, m_available))
            return false;
    }
    m_grantedSinceRead += bytes;
    return true;
}
