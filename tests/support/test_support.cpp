#include "tests/support/test_support.h"

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vt {

std::string DataPath(const std::string& relative) {
    return std::string(VELLUMAR_TEST_DATA) + "/" + relative;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vellumar-test-XXXXXX").string();
    if (mkdtemp(tmpl.data())) path_ = tmpl;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (old_) setenv(name_.c_str(), old_->c_str(), 1);
    else unsetenv(name_.c_str());
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

Rgba ToRgba(const VxImage& img) {
    Rgba out;
    out.width = int(img.GetWidth());
    out.height = int(img.GetHeight());
    out.px.resize(size_t(out.width) * out.height * 4);
    for (int y = 0; y < out.height; ++y) {
        const int by = out.height - 1 - y;
        for (int x = 0; x < out.width; ++x) {
            const RGBQUAD c = img.GetPixelColor(x, by, false);
            uint8_t* p = &out.px[(size_t(y) * out.width + x) * 4];
            p[0] = c.rgbRed;
            p[1] = c.rgbGreen;
            p[2] = c.rgbBlue;
            p[3] = img.AlphaIsValid() ? img.AlphaGet(x, by) : 255;
        }
    }
    return out;
}

int DeepDiff(const VxDeepPlane& a, const VxDeepPlane& b) {
    int most = a.width == b.width && a.height == b.height && a.channels == b.channels ? 0 : 99999;
    for (size_t i = 0; most < 99999 && i < a.samples.size(); ++i)
        most = std::max(most, std::abs(a.samples[i] - b.samples[i]));
    return most;
}

int MaxChannelDiff(const Rgba& a, const Rgba& b, bool withAlpha) {
    if (a.width != b.width || a.height != b.height || a.px.size() != b.px.size()) return -1;
    int worst = 0;
    for (size_t i = 0; i < a.px.size(); ++i) {
        if (!withAlpha && i % 4 == 3) continue;
        worst = std::max(worst, std::abs(int(a.px[i]) - int(b.px[i])));
    }
    return worst;
}

double Psnr(const Rgba& a, const Rgba& b) {
    if (a.px.size() != b.px.size() || a.px.empty()) return 0;
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.px.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(a.px[i]) - double(b.px[i]);
        sum += d * d;
        ++n;
    }
    if (sum == 0) return INFINITY;
    return 10.0 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

int RunCommand(const std::string& command) {
    const int rc = std::system(command.c_str());
    if (rc == -1) return -1;
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

bool DecodeBytes(std::vector<uint8_t> bytes, uint32_t format, VxImage& img) {
    return img.Decode(bytes.data(), uint32_t(bytes.size()), format);
}

std::vector<uint8_t> EncodeBytes(VxImage& img, uint32_t format, bool* ok) {
    uint8_t* buf = nullptr;
    int32_t size = 0;
    const bool done = img.Encode(buf, size, format);
    if (ok) *ok = done;
    std::vector<uint8_t> out;
    if (done) out.assign(buf, buf + size);
    std::free(buf);
    return out;
}

VxImage MakeGradient24(int width, int height) {
    VxImage img(uint32_t(width), uint32_t(height), 24, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.SetPixelColor(x, y,
                              vx::MakeRGBQUAD(uint8_t(x * 255 / std::max(1, width - 1)),
                                              uint8_t(y * 255 / std::max(1, height - 1)),
                                              uint8_t((x * 7 + y * 13) & 0xFF)));
    return img;
}

VxImage MakeSmooth24(int width, int height) {
    VxImage img(uint32_t(width), uint32_t(height), 24, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.SetPixelColor(x, y,
                              vx::MakeRGBQUAD(uint8_t(40 + x * 150 / std::max(1, width - 1)),
                                              uint8_t(200 - y * 120 / std::max(1, height - 1)),
                                              uint8_t(60 + (x + y) * 100 / std::max(1, width + height - 2))));
    return img;
}

}  // namespace vt
