// Puts the embedded skin engine beside the program and drives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vellumar::gui {

std::span<const unsigned char> EmbeddedSkinLibrary();
std::span<const unsigned char> EmbeddedSkinData();

// Writes through a temporary file in the same folder and renames it into
// place, so a library another process has loaded is never truncated.
bool WriteFileAtomically(const std::string& path, std::span<const unsigned char> bytes,
                         unsigned mode);

// The loaded skin module; every call is a silent no-op when it did not load.
class SkinEngine {
public:
    // Writes "vskin.dat" and "vskin.so" into `dir` (results not needed: a
    // stale copy from an earlier start still serves) and loads the library.
    bool Load(const std::string& dir);
    bool Loaded() const { return attach_ != nullptr; }

    int Attach();
    int AdjustHsv(int hue, int saturation, int value);
    int SetAero(int enabled);
    int SetWindowAlpha(uintptr_t window, int alpha);

private:
    using AttachFn = int (*)();
    using AdjustFn = int (*)(int, int, int);
    using AeroFn = int (*)(int);
    using AlphaFn = int (*)(uintptr_t, int);
    AttachFn attach_ = nullptr;
    AdjustFn adjust_ = nullptr;
    AeroFn aero_ = nullptr;
    AlphaFn alpha_ = nullptr;
};

}  // namespace vellumar::gui
