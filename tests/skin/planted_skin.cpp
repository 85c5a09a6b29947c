// A stand-in for a library someone else put where the skin module goes: it
// has the module's entry points and leaves a mark wherever its code runs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Mark() {
    if (const char* path = std::getenv("VELLUMAR_PLANTED_MARK"))
        if (FILE* f = std::fopen(path, "w")) std::fclose(f);
}

__attribute__((constructor)) void OnLoad() { Mark(); }

}  // namespace

extern "C" {
__attribute__((visibility("default"))) int Skin_SetThemeFile(const char*) { Mark(); return 1; }
__attribute__((visibility("default"))) int Skin_Attach() { Mark(); return 1; }
__attribute__((visibility("default"))) int Skin_AdjustHSV(int, int, int) { Mark(); return 1; }
__attribute__((visibility("default"))) int Skin_SetAero(int) { Mark(); return 1; }
__attribute__((visibility("default"))) int Skin_SetWindowAlpha(uintptr_t, int) { Mark(); return 1; }
}
