#include "topolib/ImportSession.h"

#include "topolib/HugePageAdvice.h"
#include "topolib/StlObject.h"

#include <algorithm>

namespace topolib {

void* ImportSession::edgeRoom(RecordPool<StlEdge>& edgePool, std::size_t cornerTotal, std::size_t triangleTotal) {
    const std::size_t bytes = cornerTotal * sizeof(FacetCorner);
    const std::size_t records = std::max((3 * triangleTotal) / 2, (bytes + sizeof(StlEdge) - 1) / sizeof(StlEdge));
    return edgePool.lendRoom(records);
}

void ImportSession::releaseRoomPast(RecordPool<StlEdge>& edgePool, std::size_t cornerTotal, std::size_t triangleTotal,
                                    std::size_t keep) {
    const std::size_t bytes = cornerTotal * sizeof(FacetCorner);
    if (bytes > keep)
        releasePages(static_cast<char*>(edgeRoom(edgePool, cornerTotal, triangleTotal)) + keep, bytes - keep);
}

} // namespace topolib
