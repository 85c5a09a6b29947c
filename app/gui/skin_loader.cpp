#include "app/gui/skin_loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

int OpenTrustedModule(const std::string& path, std::span<const unsigned char> expected) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
              (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 && size_t(st.st_size) == expected.size();
    std::vector<unsigned char> bytes(ok ? expected.size() : 0);
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += size_t(n);
    }
    if (ok && !std::equal(bytes.begin(), bytes.end(), expected.begin())) ok = false;
    if (!ok) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SkinEngine::LoadTrusted(const std::string& path, const std::string& themePath) {
    const int fd = OpenTrustedModule(path, EmbeddedSkinLibrary());
    if (fd < 0) return false;
    // Loading through the checked descriptor leaves no gap in which the file
    // at `path` could be swapped. Kept loaded for the program's life: the
    // theme lives in its state.
    void* lib = dlopen(("/proc/self/fd/" + std::to_string(fd)).c_str(), RTLD_NOW | RTLD_LOCAL);
    close(fd);
    if (!lib) return false;
    auto attach = reinterpret_cast<AttachFn>(dlsym(lib, "Skin_Attach"));
    auto adjust = reinterpret_cast<AdjustFn>(dlsym(lib, "Skin_AdjustHSV"));
    auto aero = reinterpret_cast<AeroFn>(dlsym(lib, "Skin_SetAero"));
    auto alpha = reinterpret_cast<AlphaFn>(dlsym(lib, "Skin_SetWindowAlpha"));
    auto themeFile = reinterpret_cast<ThemeFileFn>(dlsym(lib, "Skin_SetThemeFile"));
    if (!attach || !adjust || !aero || !alpha || !themeFile) return false;
    themeFile(themePath.c_str());
    attach_ = attach;
    adjust_ = adjust;
    aero_ = aero;
    alpha_ = alpha;
    modulePath_ = path;
    return true;
}

bool SkinEngine::Load(const FilePlaces& places) {
    // The user's own folders are private, as new XDG folders should be.
    if (!places.portable) MakeDirectories(places.skinData, 0700);
    const std::string themePath = places.skinData + "/vskin.dat";
    WriteFileAtomically(themePath, EmbeddedSkinData(), 0644);
    if (places.portable) {
        const std::string beside = places.base + "/vskin.so";
        WriteFileAtomically(beside, EmbeddedSkinLibrary(), 0755);
        if (LoadTrusted(beside, themePath)) return true;
    }
    if (!MakePrivateFolder(places.privateDir)) return false;
    const std::string own = places.privateDir + "/vskin.so";
    WriteFileAtomically(own, EmbeddedSkinLibrary(), 0700);
    return LoadTrusted(own, themePath);
}

int SkinEngine::Attach() { return attach_ ? attach_() : 0; }
int SkinEngine::AdjustHsv(int h, int s, int v) { return adjust_ ? adjust_(h, s, v) : 0; }
int SkinEngine::SetAero(int enabled) { return aero_ ? aero_(enabled) : 0; }
int SkinEngine::SetWindowAlpha(uintptr_t window, int a) { return alpha_ ? alpha_(window, a) : 0; }

}  // namespace vellumar::gui
