// The record of a run: one line per row as rows finish, JSON Lines or (for a
// name ending in .csv) CSV with the same columns, each line complete on the
// disk before the next row is told, so a run stopped by a signal leaves a
// report of every row it finished.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "app/batch/batch_engine.h"

namespace vellumar::batch {

class RunReport {
public:
    // Null with `why` when the file cannot be made.
    static std::unique_ptr<RunReport> Open(const std::string& path, std::string& why);
    ~RunReport();

    void Row(int row, const std::string& source, ImageFormat target, const RowResult& result);
    bool Failed() const { return failed_; }

private:
    RunReport(FILE* file, bool csv) : file_(file), csv_(csv) {}
    FILE* file_;
    bool csv_;
    bool failed_ = false;
};

// "converted", "skipped" or "failed"; the stage a failure happened at
// ("decode", "encode", "write") or "".
const char* StatusName(const RowResult& result);
const char* StageName(const RowResult& result);

}  // namespace vellumar::batch
