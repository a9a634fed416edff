#pragma once
// Waiting on a condition instead of sleeping a fixed time: the tests run two
// at a time on loaded machines and under sanitizers, so a deadline is a
// generous bound, never the expected time.

#include <chrono>
#include <thread>

namespace testing_support {

// Polls pred every poll until it holds (true) or limit has passed (false).
template <typename Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10),
               std::chrono::milliseconds poll = std::chrono::milliseconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(poll);
    }
    return true;
}

} // namespace testing_support
