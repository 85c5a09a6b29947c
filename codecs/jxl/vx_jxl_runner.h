// The library's own thread pool for one encode or decode, when the picture
// may use more than its caller's thread. Its output does not depend on the
// number of threads (checked by the tests), only its speed does.
#pragma once

#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

#include <cstdint>

class VxJxlRunner {
public:
    explicit VxJxlRunner(uint32_t threads)
        : runner_(threads > 1 ? JxlThreadParallelRunnerCreate(nullptr, threads) : nullptr) {}
    ~VxJxlRunner() {
        if (runner_) JxlThreadParallelRunnerDestroy(runner_);
    }
    VxJxlRunner(const VxJxlRunner&) = delete;
    VxJxlRunner& operator=(const VxJxlRunner&) = delete;

    // Without a pool (one thread, or none could be made) the caller's thread does it all.
    bool Attach(JxlEncoder* enc) const {
        return !runner_ || JxlEncoderSetParallelRunner(enc, JxlThreadParallelRunner, runner_) ==
                               JXL_ENC_SUCCESS;
    }
    bool Attach(JxlDecoder* dec) const {
        return !runner_ || JxlDecoderSetParallelRunner(dec, JxlThreadParallelRunner, runner_) ==
                               JXL_DEC_SUCCESS;
    }

private:
    void* runner_;
};
