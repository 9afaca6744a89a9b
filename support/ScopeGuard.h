#pragma once

#include <utility>

namespace support {

// Runs a function when the scope ends, on every return path. The walks use it to
// clear the marks they set in the mesh records.
template <typename F>
class ScopeGuard {
public:
    explicit ScopeGuard(F f) : m_f(std::move(f)) {}
    ~ScopeGuard() { m_f(); }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

private:
    F m_f;
};

template <typename F>
ScopeGuard<F> onScopeExit(F f) {
    return ScopeGuard<F>(std::move(f));
}

} // namespace support
