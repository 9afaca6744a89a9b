#pragma once
// Where a drain-hole cut keeps the working state of each triangle it crosses.
// A cut touches a few hundred or thousand triangles of meshes that may hold
// millions, so the contexts live in one process-wide table keyed by triangle
// rather than in a pointer on every record. Bit kHasCutContext of the
// triangle's flags says whether the table holds its entry: a triangle outside
// a cut is answered from that bit without a look-up, and a record made at the
// address of a freed one starts with the bit clear, so a stale entry is never
// seen. The table is shared by cuts running on several threads at once (each
// on its own meshes) and locks itself.
//
// The table does not own the contexts: whoever hangs a context on a triangle
// frees it (the boolean once the cut is over, the retriangulation once the
// triangle is replaced).

#include "topolib/StlTriangle.h"

#include <cstddef>
#include <functional>

namespace topolib {

class TriangleCutContext;

// The table's entry for t; null when there is none. Prefer cutContext().
TriangleCutContext* lookUpCutContext(const StlTriangle* t);

// t's cut context, or null when a cut has filed none for it.
inline TriangleCutContext* cutContext(const StlTriangle* t) {
    return t->hasCutContext() ? lookUpCutContext(t) : nullptr;
}

// Files ctx as t's context (replacing the one t had, which is not freed) and
// sets t's bit; null takes t's entry out and clears the bit. The caller keeps
// ownership of both contexts.
void setCutContext(StlTriangle* t, TriangleCutContext* ctx);

// t's context, made and filed when it has none yet (freed by whoever ends the
// cut, see above).
TriangleCutContext* ensureCutContext(StlTriangle* t);

// Drops the entry of every triangle for which `holds` is true, leaving the
// contexts themselves alone: a mesh calls it before its triangle storage goes.
// `holds` is called under the table's lock with triangles of any mesh; it must
// only compare their addresses.
void forgetCutContexts(const std::function<bool(const StlTriangle*)>& holds);

// The number of entries in the table.
std::size_t cutContextCount();

} // namespace topolib
