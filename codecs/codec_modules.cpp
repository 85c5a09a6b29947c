#include "codecs/codec_modules.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

// Each module's entry, when the program links the codec itself.
extern "C" {
__attribute__((weak)) const VxCodecOps* vx_codec_module_heif();
__attribute__((weak)) const VxCodecOps* vx_codec_module_svg();
__attribute__((weak)) const VxCodecOps* vx_codec_module_pdf();
__attribute__((weak)) const VxCodecOps* vx_codec_module_raw();
__attribute__((weak)) const VxCodecOps* vx_codec_module_exr();
__attribute__((weak)) const VxCodecOps* vx_codec_module_metafile();
__attribute__((weak)) const VxCodecOps* vx_codec_module_jxl();
__attribute__((weak)) const VxTranscode* vx_codec_module_jxl_ways();

// The modules' bytes (codec_modules.S).
#define VX_MODULE_BYTES(name)                                 \
    extern const unsigned char vellumar_module_##name##_begin[]; \
    extern const unsigned char vellumar_module_##name##_end[];
VX_MODULE_BYTES(heif)
VX_MODULE_BYTES(svg)
VX_MODULE_BYTES(pdf)
VX_MODULE_BYTES(raw)
VX_MODULE_BYTES(exr)
VX_MODULE_BYTES(metafile)
VX_MODULE_BYTES(jxl)
#undef VX_MODULE_BYTES
}

namespace {

struct ModuleFile {
    const char* name;   // for texts and the memory file's name
    const char* entry;  // the exported function
    const VxCodecOps* (*linked)();
    bool hasWays;  // exports vx_codec_module_<name>_ways
    const VxTranscode* (*linkedWays)();
    const unsigned char* begin;
    const unsigned char* end;
};

#define VX_MODULE(label, name) \
    {label, "vx_codec_module_" #name, &vx_codec_module_##name, false, nullptr, \
     vellumar_module_##name##_begin, vellumar_module_##name##_end}
#define VX_MODULE_WITH_WAYS(label, name) \
    {label, "vx_codec_module_" #name, &vx_codec_module_##name, true, &vx_codec_module_##name##_ways, \
     vellumar_module_##name##_begin, vellumar_module_##name##_end}
const ModuleFile kModules[kVxModuleCount] = {
    VX_MODULE("HEIF", heif), VX_MODULE("SVG", svg), VX_MODULE("PDF", pdf),
    VX_MODULE("RAW", raw),   VX_MODULE("EXR", exr), VX_MODULE("WMF", metafile),
    VX_MODULE_WITH_WAYS("JPEG XL", jxl),
};
#undef VX_MODULE_WITH_WAYS
#undef VX_MODULE

struct Loaded {
    std::once_flag once;
    const VxCodecOps* ops = nullptr;
    const VxTranscode* ways = nullptr;
    std::string why;
};
Loaded gLoaded[kVxModuleCount];

bool WriteAll(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

// A file holding the module's bytes: a memory file, or where the system
// refuses to run code from one, an unnamed temporary file.
int ModuleDescriptor(const ModuleFile& m, bool memory) {
    int fd = -1;
    if (memory) {
        fd = memfd_create(m.name, MFD_CLOEXEC);
    } else {
        const char* dir = std::getenv("TMPDIR");
        std::string path = std::string(dir && *dir ? dir : "/tmp") + "/vellumar-module-XXXXXX";
        fd = mkostemp(path.data(), O_CLOEXEC);
        if (fd >= 0) unlink(path.c_str());
    }
    if (fd < 0) return -1;
    if (!WriteAll(fd, m.begin, size_t(m.end - m.begin))) {
        close(fd);
        return -1;
    }
    return fd;
}

// The module's undefined names are the engine's. A program exports them;
// the Python extension holds the engine too, but the interpreter loaded it
// for itself alone, so it is made visible first.
void ShowEngineToModules() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&VxModuleOps), &info) && info.dli_fname && *info.dli_fname)
        dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_GLOBAL);
}

void Load(const ModuleFile& m, Loaded& out) {
    // Taking a weak name's address gives null where the program lacks it.
    if (m.linked) {
        out.ops = m.linked();
        out.ways = m.linkedWays ? m.linkedWays() : nullptr;
        return;
    }
    static std::once_flag shown;
    std::call_once(shown, ShowEngineToModules);
    std::string error = "the module is not in the program";
    for (const bool memory : {true, false}) {
        const int fd = ModuleDescriptor(m, memory);
        if (fd < 0) {
            error = std::string("no file for the module: ") + std::strerror(errno);
            continue;
        }
        // The descriptor stays open for the program's life, so that debuggers
        // and sanitizers can read the module's symbols by its name.
        void* lib = dlopen(("/proc/self/fd/" + std::to_string(fd)).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            const char* e = dlerror();
            error = e ? e : "cannot load it";
            close(fd);
            continue;
        }
        const auto entry = reinterpret_cast<const VxCodecOps* (*)()>(dlsym(lib, m.entry));
        if (entry) {
            out.ops = entry();
            if (m.hasWays) {
                const std::string ways = std::string(m.entry) + "_ways";
                const auto waysEntry = reinterpret_cast<const VxTranscode* (*)()>(dlsym(lib, ways.c_str()));
                out.ways = waysEntry ? waysEntry() : nullptr;
            }
            return;
        }
        error = "the module has no entry";
        break;
    }
    out.why = std::string(m.name) + ": the codec module cannot be loaded (" + error + ")";
}

}  // namespace

namespace {

const Loaded* Slot(VxModule module, const char** why) {
    const size_t i = size_t(module);
    if (i >= kVxModuleCount) return nullptr;
    Loaded& slot = gLoaded[i];
    std::call_once(slot.once, [&] { Load(kModules[i], slot); });
    if (!slot.ops && why) *why = slot.why.c_str();
    return &slot;
}

}  // namespace

const VxCodecOps* VxModuleOps(VxModule module, const char** why) {
    const Loaded* slot = Slot(module, why);
    return slot ? slot->ops : nullptr;
}

const VxTranscode* VxModuleWays(VxModule module, const char** why) {
    const Loaded* slot = Slot(module, why);
    return slot ? slot->ways : nullptr;
}
