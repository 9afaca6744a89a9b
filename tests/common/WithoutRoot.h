#pragma once
// Permission checks cannot be seen by root, who reads and writes everything.

#include <functional>

namespace testsupport {

// Runs check in this process, or, when the process is root, in a forked child
// that has changed to the unprivileged user and group "nobody" (65534) before
// running it; true when check returned true. The child shares nothing with
// the test afterwards: check reports only through its result.
bool runWithoutRoot(const std::function<bool()>& check);

// The user and group id of "nobody".
constexpr unsigned kNobody = 65534;

} // namespace testsupport
