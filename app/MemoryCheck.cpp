#include "app/MemoryCheck.h"

#include "app/Platform.h"

#include <algorithm>
#include <utility>

MemoryCheckFunction MemoryCheckCallback;

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

uint64_t availableMemory() {
    // Inside a memory-limited container the machine's free memory over-promises:
    // the group's remaining allowance counts as well.
    const uint64_t free = std::min(platform::availablePhysicalMemory(), platform::cgroupMemoryAllowance());
    return availableMemoryFrom(platform::processPrivateBytes(), free);
}

bool hasEnoughMemory(const uint64_t& bytes) {
    return isRequestAffordable(bytes, availableMemory());
}
