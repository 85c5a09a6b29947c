// Puts the embedded skin engine where the program keeps its files and drives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "app/batch/file_places.h"

namespace vellumar::gui {

std::span<const unsigned char> EmbeddedSkinLibrary();
std::span<const unsigned char> EmbeddedSkinData();

// Writes through a temporary file in the same folder and renames it into
// place, so a library another process has loaded is never truncated.
bool WriteFileAtomically(const std::string& path, std::span<const unsigned char> bytes,
                         unsigned mode);

// Opens `path` only when it is a regular file (not a link) holding exactly
// `expected`, owned by this user and writable by nobody else, so that what was
// compared is what gets loaded. Returns the descriptor, or -1.
int OpenTrustedModule(const std::string& path, std::span<const unsigned char> expected);

// The loaded skin module; every call is a silent no-op when it did not load.
class SkinEngine {
public:
    // Writes "vskin.dat" and "vskin.so" to the places (results not needed: a
    // stale copy from an earlier start still serves) and loads the library,
    // but only a copy equal to the embedded one; where the module beside a
    // portable program cannot be trusted, a private per-user copy is used.
    bool Load(const FilePlaces& places);
    bool Loaded() const { return attach_ != nullptr; }
    // The file the module was loaded from (empty when not loaded).
    const std::string& ModulePath() const { return modulePath_; }

    int Attach();
    int AdjustHsv(int hue, int saturation, int value);
    int SetAero(int enabled);
    int SetWindowAlpha(uintptr_t window, int alpha);

private:
    bool LoadTrusted(const std::string& path, const std::string& themePath);

    using AttachFn = int (*)();
    using AdjustFn = int (*)(int, int, int);
    using AeroFn = int (*)(int);
    using AlphaFn = int (*)(uintptr_t, int);
    using ThemeFileFn = int (*)(const char*);
    AttachFn attach_ = nullptr;
    AdjustFn adjust_ = nullptr;
    AeroFn aero_ = nullptr;
    AlphaFn alpha_ = nullptr;
    std::string modulePath_;
};

}  // namespace vellumar::gui
