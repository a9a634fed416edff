#pragma once
// Running part of a test as an ordinary user: permission checks that root
// bypasses (a folder without write permission, a file of another owner)
// only hold for one. CI runs the tests as root.

#include <functional>

namespace testing_support {

// The user id body runs as in runUnprivileged: "nobody" when the test runs
// as root, the test's own user otherwise.
unsigned unprivilegedUid();

// Runs body in a child process that, when the test runs as root, has first
// become user and group "nobody" (65534), and returns body's result as the
// child's exit status (0 for success; -1 when the child could not be made
// or did not exit normally). Files the child must reach need permissions
// for that user. Use no gtest assertions inside body: return a code.
int runUnprivileged(const std::function<int()>& body);

} // namespace testing_support
