#include "tests/support/reference_decoder.h"

#include <cstdio>
#include <memory>

namespace vt {

namespace {

std::optional<Rgba> ReadRaw(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return std::nullopt;
    Rgba out;
    // Exactly one newline ends the header: pixel bytes may look like whitespace.
    if (std::fscanf(pipe.get(), "%d %d", &out.width, &out.height) != 2) return std::nullopt;
    if (std::fgetc(pipe.get()) != '\n') return std::nullopt;
    if (out.width <= 0 || out.height <= 0) return std::nullopt;
    out.px.resize(size_t(out.width) * out.height * 4);
    if (std::fread(out.px.data(), 1, out.px.size(), pipe.get()) != out.px.size())
        return std::nullopt;
    return out;
}

}  // namespace

bool ReferenceAvailable(Reference tool) {
    if (tool == Reference::Pillow)
        return RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
    return RunCommand("test -x /usr/bin/convert") == 0;
}

std::optional<Rgba> DecodeWithReference(const std::string& path, Reference tool, int frame) {
    const std::string script = std::string(VELLUMAR_TEST_SUPPORT_DIR) + "/reference_decode.py";
    const std::string cmd = "/usr/bin/python3 " + ShellQuote(script) + " " +
                            (tool == Reference::Pillow ? "pil " : "magick ") + ShellQuote(path) +
                            " " + std::to_string(frame) + " 2>/dev/null";
    return ReadRaw(cmd);
}

}  // namespace vt
