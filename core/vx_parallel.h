// Runs tasks 0 .. count - 1 on up to `threads` threads (the caller's one of
// them) and returns when all are done. Each task must stand alone: which
// thread runs it, and in what order, must not change its result, and it must
// not throw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

void VxParallelFor(size_t count, uint32_t threads, const std::function<void(size_t)>& task);
