// Shared test helpers: fixture paths, temporary folders, pixel comparison.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/vx_image.h"

namespace vt {

std::string DataPath(const std::string& relative);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);

// A fresh folder under the system temp dir, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or, with nullptr, removes) an environment variable for its lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Top-down RGBA pixels, the common currency of comparisons.
struct Rgba {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> px;  // 4 bytes per pixel, row 0 at the top
    const uint8_t* at(int x, int y) const { return &px[(size_t(y) * width + x) * 4]; }
};

// The picture as top-down RGBA; alpha comes from the alpha plane, else 255.
Rgba ToRgba(const VxImage& img);

// Largest per-channel difference (alpha included when `withAlpha`); -1 if sizes differ.
int MaxChannelDiff(const Rgba& a, const Rgba& b, bool withAlpha = true);
// Largest difference of two deep planes' samples; 99999 when their shapes differ.
int DeepDiff(const VxDeepPlane& a, const VxDeepPlane& b);
// PSNR over RGB in dB (infinity for identical pictures).
double Psnr(const Rgba& a, const Rgba& b);

// Runs a command and returns its exit status (-1 when it could not start).
int RunCommand(const std::string& command);
// Quotes a path for /bin/sh.
std::string ShellQuote(const std::string& s);

// Decodes a byte copy with `format` (the copy may be changed by the decoder).
bool DecodeBytes(std::vector<uint8_t> bytes, uint32_t format, VxImage& img);
// Encodes into memory; empty (and *ok false) when the encoder refuses.
std::vector<uint8_t> EncodeBytes(VxImage& img, uint32_t format, bool* ok = nullptr);

// Pictures built in tests.
VxImage MakeGradient24(int width, int height);
// Slow colour changes only, as photos have them: what lossy coders are made for.
VxImage MakeSmooth24(int width, int height);

}  // namespace vt
