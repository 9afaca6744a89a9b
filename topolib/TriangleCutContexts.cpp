// The process-wide table of cut contexts (see TriangleCutContexts.h).

#include "topolib/TriangleCutContexts.h"

#include "topolib/TriangleCutter.h"

#include <iterator>
#include <mutex>
#include <unordered_map>

namespace topolib {

namespace {

struct ContextTable {
    std::mutex mutex;
    std::unordered_map<const StlTriangle*, TriangleCutContext*> entries;
};

// Never destroyed: a mesh that is a static object may be released after the
// table's destructor would have run.
ContextTable& contextTable() {
    static ContextTable* t = new ContextTable;
    return *t;
}

} // namespace

TriangleCutContext* lookUpCutContext(const StlTriangle* t) {
    ContextTable& table = contextTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.entries.find(t);
    return it == table.entries.end() ? nullptr : it->second;
}

void setCutContext(StlTriangle* t, TriangleCutContext* ctx) {
    if (!ctx && !t->hasCutContext())
        return;
    ContextTable& table = contextTable();
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        if (ctx)
            table.entries[t] = ctx;
        else
            table.entries.erase(t);
    }
    t->flags = ctx ? (t->flags | StlTriangle::kHasCutContext) : (t->flags & ~StlTriangle::kHasCutContext);
}

TriangleCutContext* ensureCutContext(StlTriangle* t) {
    TriangleCutContext* ctx = cutContext(t);
    if (!ctx) {
        ctx = new TriangleCutContext(t);
        setCutContext(t, ctx);
    }
    return ctx;
}

void forgetCutContexts(const std::function<bool(const StlTriangle*)>& holds) {
    ContextTable& table = contextTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (auto it = table.entries.begin(); it != table.entries.end();)
        it = holds(it->first) ? table.entries.erase(it) : std::next(it);
}

std::size_t cutContextCount() {
    ContextTable& table = contextTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.entries.size();
}

} // namespace topolib
