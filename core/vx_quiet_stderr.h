// Some codec libraries print their complaints about a damaged file to stderr
// (libjxl's failure traces, libde265's and dav1d's messages) and offer no way
// to stop them. The engine must never print, so stderr is routed through a
// stream that drops what a thread writes while it holds a QuietStderr, and
// passes everything else on unchanged.
#pragma once

namespace vx {

class QuietStderr {
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;
};

}  // namespace vx
