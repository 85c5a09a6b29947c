#include "core/vx_parallel.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

void VxParallelFor(size_t count, uint32_t threads, const std::function<void(size_t)>& task) {
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) task(i);
    };
    std::vector<std::thread> helpers;
    const size_t wanted = std::min<size_t>(count, std::max<uint32_t>(threads, 1)) - (count ? 1 : 0);
    for (size_t t = 0; t < wanted; ++t) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no thread to be had: fewer do the same work
        }
    }
    work();
    for (std::thread& h : helpers) h.join();
}
