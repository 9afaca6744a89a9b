#include "topolib/ToleranceScale.h"

namespace topolib {

namespace {
thread_local double g_scale = 1.0;
} // namespace

double toleranceScaleHere() {
    return g_scale;
}

ToleranceScope::ToleranceScope(double scale) : m_previous(g_scale) {
    g_scale = scale > 0.0 ? scale : 1.0;
}

ToleranceScope::~ToleranceScope() {
    g_scale = m_previous;
}

} // namespace topolib
