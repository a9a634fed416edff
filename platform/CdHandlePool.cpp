#include "platform/CdHandlePool.h"

#include "platform/CdHandleState.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr size_t kParkedPerDrive = 2;
constexpr auto kParkedLife = std::chrono::seconds(2);

} // namespace

CdHandlePool::~CdHandlePool() {
    close([](const CdHandleState*) { return true; });
}

template <typename Pred> void CdHandlePool::close(Pred drop) {
    for (auto& [path, list] : parked) {
        auto keep = std::partition(list.begin(), list.end(),
                                   [&](const CdHandleState* h) { return !drop(h); });
        for (auto it = keep; it != list.end(); ++it) {
            delete *it;
        }
        list.erase(keep, list.end());
    }
}

void CdHandlePool::closeStale() {
    const auto now = std::chrono::steady_clock::now();
    close([&](const CdHandleState* h) { return now - h->parkedAt > kParkedLife; });
}

CdHandleState* CdHandlePool::take(const std::string& path, bool isImage) {
    closeStale();
    auto& list = parked[path];
    while (!list.empty()) {
        CdHandleState* h = list.back();
        list.pop_back();
        if (h->isImage == isImage && h->disc->unchanged()) {
            return h;
        }
        delete h;
    }
    return nullptr;
}

void CdHandlePool::park(CdHandleState* handle) {
    closeStale();
    auto& list = parked[handle->path];
    if (list.size() < kParkedPerDrive) {
        handle->parkedAt = std::chrono::steady_clock::now();
        list.push_back(handle);
        return;
    }
    delete handle;
}

void CdHandlePool::closeParked(bool isImage) {
    close([&](const CdHandleState* h) { return h->isImage == isImage; });
}
