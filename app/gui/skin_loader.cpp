#include "app/gui/skin_loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

extern "C" {
extern const unsigned char vellumar_vskin_so_begin[];
extern const unsigned char vellumar_vskin_so_end[];
extern const unsigned char vellumar_vskin_dat_begin[];
extern const unsigned char vellumar_vskin_dat_end[];
}

namespace vellumar::gui {

std::span<const unsigned char> EmbeddedSkinLibrary() {
    return {vellumar_vskin_so_begin, size_t(vellumar_vskin_so_end - vellumar_vskin_so_begin)};
}

std::span<const unsigned char> EmbeddedSkinData() {
    return {vellumar_vskin_dat_begin, size_t(vellumar_vskin_dat_end - vellumar_vskin_dat_begin)};
}

bool WriteFileAtomically(const std::string& path, std::span<const unsigned char> bytes,
                         unsigned mode) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string tmpl = dir + "/." + name + ".XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd < 0) return false;
    const std::string tmp(buf.data());
    bool ok = fchmod(fd, mode_t(mode)) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += size_t(n);
    }
    if (close(fd) != 0) ok = false;
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

bool SkinEngine::Load(const std::string& dir) {
    WriteFileAtomically(dir + "/vskin.dat", EmbeddedSkinData(), 0644);
    WriteFileAtomically(dir + "/vskin.so", EmbeddedSkinLibrary(), 0755);
    // Kept loaded for the program's life: the theme lives in its state.
    void* lib = dlopen((dir + "/vskin.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) return false;
    auto attach = reinterpret_cast<AttachFn>(dlsym(lib, "Skin_Attach"));
    auto adjust = reinterpret_cast<AdjustFn>(dlsym(lib, "Skin_AdjustHSV"));
    auto aero = reinterpret_cast<AeroFn>(dlsym(lib, "Skin_SetAero"));
    auto alpha = reinterpret_cast<AlphaFn>(dlsym(lib, "Skin_SetWindowAlpha"));
    if (!attach || !adjust || !aero || !alpha) return false;
    attach_ = attach;
    adjust_ = adjust;
    aero_ = aero;
    alpha_ = alpha;
    return true;
}

int SkinEngine::Attach() { return attach_ ? attach_() : 0; }
int SkinEngine::AdjustHsv(int h, int s, int v) { return adjust_ ? adjust_(h, s, v) : 0; }
int SkinEngine::SetAero(int enabled) { return aero_ ? aero_(enabled) : 0; }
int SkinEngine::SetWindowAlpha(uintptr_t window, int a) { return alpha_ ? alpha_(window, a) : 0; }

}  // namespace vellumar::gui
