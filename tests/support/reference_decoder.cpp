#include "tests/support/reference_decoder.h"

#include <gtest/gtest.h>

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

const char* ToolName(Reference tool) {
    switch (tool) {
        case Reference::Pillow: return "pil";
        case Reference::ImageMagick: return "magick";
        case Reference::Dwebp: return "dwebp";
        case Reference::HeifConvert: return "heif";
        case Reference::Avifdec: return "avifdec";
        case Reference::Djxl: return "djxl";
    }
    return "pil";
}

}  // namespace

bool ReferenceAvailable(Reference tool) {
    switch (tool) {
        case Reference::Pillow:
            return RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
        case Reference::ImageMagick: return RunCommand("test -x /usr/bin/convert") == 0;
        case Reference::Dwebp: return RunCommand("test -x /usr/bin/dwebp") == 0;
        case Reference::HeifConvert:
            return RunCommand("test -x /usr/bin/heif-convert -a -x /usr/bin/pngtopam") == 0;
        case Reference::Avifdec:
            return RunCommand("test -x /usr/bin/avifdec -a -x /usr/bin/pngtopam") == 0;
        case Reference::Djxl: return RunCommand("test -x /usr/bin/djxl -a -x /usr/bin/pngtopam") == 0;
    }
    return false;
}

std::optional<Rgba> DecodeWithReference(const std::string& path, Reference tool, int frame) {
    const std::string script = std::string(VELLUMAR_TEST_SUPPORT_DIR) + "/reference_decode.py";
    const std::string cmd = "/usr/bin/python3 " + ShellQuote(script) + " " + ToolName(tool) + " " +
                            ShellQuote(path) + " " + std::to_string(frame) + " 2>/dev/null";
    return ReadRaw(cmd);
}

std::optional<Rgba16> DecodeDeepWithReference(const std::string& path, const std::string& tool) {
    const std::string script = std::string(VELLUMAR_TEST_SUPPORT_DIR) + "/reference_deep.py";
    const std::string cmd = "/usr/bin/python3 " + ShellQuote(script) + " " + tool + " " +
                            ShellQuote(path) + " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    Rgba16 out;
    if (!pipe || std::fscanf(pipe.get(), "%d %d", &out.width, &out.height) != 2 ||
        std::fgetc(pipe.get()) != '\n' || out.width <= 0 || out.height <= 0)
        return std::nullopt;
    std::vector<uint8_t> bytes(size_t(out.width) * out.height * 8);
    if (std::fread(bytes.data(), 1, bytes.size(), pipe.get()) != bytes.size()) return std::nullopt;
    for (size_t i = 0; i < bytes.size(); i += 2) out.px.push_back(uint16_t(bytes[i] << 8 | bytes[i + 1]));
    return out;
}

int DiffFromReference(const std::string& path, uint32_t format, Reference tool, int frame) {
    VxImage img(0);
    img.SetFrame(frame);
    if (!img.Load(path.c_str(), format)) {
        ADD_FAILURE() << path << " #" << frame << ": " << img.GetLastError();
        return -1;
    }
    const std::optional<Rgba> ref = DecodeWithReference(path, tool, frame);
    if (!ref) {
        ADD_FAILURE() << path << " #" << frame << ": the reference tool refused it";
        return -1;
    }
    const int diff = MaxChannelDiff(ToRgba(img), *ref);
    if (diff < 0) ADD_FAILURE() << path << " #" << frame << ": sizes differ";
    return diff;
}

}  // namespace vt
