// Load/save entry points: format code -> codec object, the probe order, and
// which error text the caller gets to see.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "core/vx_image.h"
#include "core/vx_save_path.h"

namespace {

const char kDecodeUnknown[] = "解码: 未知或错误的图像格式";
const char kEncodeUnknown[] = "编码: 未知的图像格式";

// Stream buffer for loads and saves: a small picture then takes one read and
// one write, a large one a sixteenth of the default system calls. The buffer
// must outlive the stream.
constexpr size_t kStreamBuffer = size_t(64) << 10;

void GiveBuffer(FILE* fp, std::unique_ptr<char[]>& buffer) {
    buffer.reset(new (std::nothrow) char[kStreamBuffer]);
    if (buffer) std::setvbuf(fp, buffer.get(), _IOFBF, kStreamBuffer);
}

// A codec's failure becomes the caller's: its reason, and false.
bool TakeFailure(VxImage& caller, const VxImage& codec) {
    caller.SetLastError(codec.GetLastError());
    return false;
}

}  // namespace

bool VxImage::Load(const char* filename, uint32_t type) {
    if (!filename) return false;
    // False with `opened` false when the file cannot be opened.
    const auto decodeFile = [&](uint32_t as, bool& opened) {
        std::unique_ptr<char[]> buffer;
        FILE* fp = std::fopen(filename, "rb");
        opened = fp != nullptr;
        if (!fp) {
            SetLastError(VxSaveErrorText("cannot open the file", errno).c_str());
            return false;
        }
        GiveBuffer(fp, buffer);
        const bool ok = Decode(fp, as);
        std::fclose(fp);
        return ok;
    };
    bool opened = false;
    if (type > 0 && type < kVxFormatCount) {
        const bool ok = decodeFile(type, opened);
        // A cancelled row ends here: the probe would decode the file again.
        if (ok || !opened || Cancelled()) return ok;
    }
    // The named format's failure is what the caller gets to see: its text, and
    // the frame count a multi-frame codec reported.
    char saved[sizeof(Info.LastError)];
    std::memcpy(saved, Info.LastError, sizeof(saved));
    const int32_t savedFrames = Info.NumFrames;
    const bool ok = decodeFile(0, opened);
    if (!ok && opened && type != 0) {
        std::memcpy(Info.LastError, saved, sizeof(saved));
        Info.NumFrames = savedFrames;
    }
    return ok;
}

// Encodes into a new locked temporary file beside `filename`; `commit`, when
// given, runs while the file is still open and locked (so no other process
// takes it for one a dead process left), and its failure fails the save.
bool VxImage::EncodeToTemporary(const char* filename, uint32_t type, std::string& tmpPath,
                                const std::string& tag, bool durable,
                                const std::function<bool(const std::string&)>& commit) {
    tmpPath.clear();
    if (!filename || !*filename) return false;
    // The temporary file lives beside the name, so that the final rename
    // stays within one file system and replaces the name in one step. A
    // symbolic link is replaced, never followed: what it points to may be
    // outside the output folder, a device, or another row's file.
    std::string why;
    if (!VxReplaceable(filename, why)) {
        SetLastError(why.c_str());
        return false;
    }
    std::string tmp;
    const int fd = VxCreateTemporaryBeside(filename, tmp, tag);
    if (fd < 0) {
        SetLastError(VxSaveErrorText("cannot create the output file", errno).c_str());
        return false;
    }
    std::unique_ptr<char[]> buffer;
    FILE* fp = fdopen(fd, "w+b");
    if (!fp) {
        SetLastError(VxSaveErrorText("cannot create the output file", errno).c_str());
        close(fd);
        unlink(tmp.c_str());
        return false;
    }
    GiveBuffer(fp, buffer);
    bool ok = Encode(fp, type);
    // A write the system refused is the reason, whatever the encoder made of it.
    int writeError = std::ferror(fp) ? errno : 0;
    if (std::fflush(fp) != 0 && !writeError) writeError = errno;
    // A file that replaces a picture must be on the disk before its name is.
    if (ok && !writeError && durable && fsync(fileno(fp)) != 0) writeError = errno;
    if (writeError) {
        SetLastError(VxSaveErrorText("cannot write the output file", writeError).c_str());
        ok = false;
    }
    if (ok && commit && !commit(tmp)) ok = false;
    if (std::fclose(fp) != 0 && ok && !commit) {
        SetLastError(VxSaveErrorText("cannot write the output file", errno).c_str());
        ok = false;
    }
    if (!ok) {
        unlink(tmp.c_str());
        return false;
    }
    if (!commit) tmpPath = tmp;
    return true;
}

bool VxImage::SaveToTemporary(const char* filename, uint32_t type, std::string& tmpPath,
                              const std::string& tag, bool durable) {
    return EncodeToTemporary(filename, type, tmpPath, tag, durable, {});
}

bool VxImage::CommitTemporary(const std::string& tmpPath, const char* filename) {
    if (!filename || std::rename(tmpPath.c_str(), filename) != 0) {
        SetLastError(VxSaveErrorText("cannot replace the output file", errno).c_str());
        unlink(tmpPath.c_str());
        return false;
    }
    return true;
}

bool VxImage::Save(const char* filename, uint32_t type) {
    // Encode into a temporary file and rename it over the target only when the
    // encoder succeeded: a failed save never leaves a broken file, and an
    // existing file of that name survives it.
    std::string unused;
    return EncodeToTemporary(filename, type, unused, {}, false, [&](const std::string& tmp) {
        if (std::rename(tmp.c_str(), filename) == 0) return true;
        SetLastError(VxSaveErrorText("cannot replace the output file", errno).c_str());
        return false;
    });
}

bool VxImage::Decode(FILE* fp, uint32_t type) {
    VxIOFile file(fp);
    return Decode(&file, type);
}

bool VxImage::Decode(uint8_t* buffer, uint32_t size, uint32_t type) {
    VxMemFile file(buffer, size);
    return Decode(&file, type);
}

bool VxImage::Encode(FILE* fp, uint32_t type) {
    VxIOFile file(fp);
    return Encode(&file, type);
}

bool VxImage::Encode(FILE* fp, VxImage** pages, int32_t pageCount, uint32_t type) {
    VxIOFile file(fp);
    return Encode(&file, pages, pageCount, type);
}

bool VxImage::DecodeWith(uint32_t code, VxFile* file, uint32_t passType) {
    const VxCodecOps* ops = VxFindCodec(code);
    if (!ops) return false;
    if (passType == 0 && ops->claims) {
        // The probe asks before it creates: creating may load a module.
        uint8_t head[kVxClaimsMaxReach];
        const int64_t at = file->Tell64();
        const size_t got = file->Read(head, 1, ops->claimsReach);
        file->Seek64(at, SEEK_SET);
        if (!ops->claims(head, got)) return false;
    }
    std::unique_ptr<VxImage> codec(ops->create());
    if (!codec) return false;
    codec->CopyInfo(*this);
    // Settings steer the decoder; what described the previous picture must not
    // stick to the next one (a reused image would otherwise hand a GIF's
    // transparent index or a photo's resolution to a file that has none).
    codec->Info.ForgetPicture();
    codec->SetXDPI(96);
    codec->SetYDPI(96);
    if (ops->decode(codec.get(), file, passType)) {
        Transfer(*codec);
        return true;
    }
    if (ops->reportsFrames) Info.NumFrames = codec->Info.NumFrames;
    return TakeFailure(*this, *codec);
}

bool VxImage::Decode(VxFile* file, uint32_t type) {
    if (!file) {
        SetLastError(kDecodeUnknown);
        return false;
    }
    if (type > 0 && type < kVxFormatCount) {
        if (!VxFindCodec(type)) {
            // A format this build has no codec for answers like an unknown one.
            SetLastError(kDecodeUnknown);
            return false;
        }
        return DecodeWith(type, file, type);
    }
    if (type != 0) {
        SetLastError(kDecodeUnknown);
        return false;
    }
    const int64_t start = file->Tell64();
    // The registry lists the codecs in probe order. The JPEG-2000 family
    // codec, entered once, recognises its five formats by content.
    size_t count = 0;
    const VxCodecEntry* entries = VxCodecEntries(&count);
    for (size_t i = 0; i < count; ++i) {
        if (!entries[i].probed) continue;
        if (DecodeWith(entries[i].code, file, 0)) return true;
        if (Cancelled()) return false;
        file->Seek64(start, 0);
    }
    SetLastError(kDecodeUnknown);
    return false;
}

bool VxImage::Encode(VxFile* file, uint32_t type) {
    const VxCodecOps* ops = (type > 0 && type < kVxFormatCount) ? VxFindCodec(type) : nullptr;
    if (!ops) {
        SetLastError(kEncodeUnknown);
        return false;
    }
    std::unique_ptr<VxImage> codec(ops->create());
    if (!codec) return false;
    codec->Ghost(this);
    return ops->encode(codec.get(), file, type) || TakeFailure(*this, *codec);
}

bool VxImage::Encode(uint8_t*& buffer, int32_t& size, uint32_t type) {
    if (buffer) {
        SetLastError("缓冲区指针必须为空");
        return false;
    }
    VxMemFile file;
    if (!file.Open()) return false;
    if (!Encode(&file, type)) return false;
    size = file.Size();
    buffer = file.GetBuffer(true);
    return true;
}

bool VxImage::Encode(VxFile* file, VxImage** pages, int32_t pageCount, uint32_t type) {
    const VxCodecOps* ops = VxFindCodec(type);
    if (!ops || !ops->encodePages) {
        SetLastError("多页编码: 这个格式不支持");
        return false;
    }
    std::unique_ptr<VxImage> codec(ops->create());
    if (!codec) return false;
    codec->Ghost(this);
    return ops->encodePages(codec.get(), file, pages, pageCount) || TakeFailure(*this, *codec);
}

bool VxImage::EncodeSafeCheck(VxFile* file) {
    if (!file) {
        SetLastError("文件句柄为空的");
        return true;
    }
    if (!Dib) {
        SetLastError("没有图像!!!");
        return true;
    }
    return false;
}

bool VxImage::Encode2RGBA(VxFile* file) {
    if (EncodeSafeCheck(file)) return false;
    const int32_t w = Header.biWidth;
    std::unique_ptr<uint8_t[]> row(new uint8_t[size_t(w) * 4]);
    for (int32_t y = 0; y < Header.biHeight; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const RGBQUAD c = BlindGetPixelColor(x, y);
            uint8_t* p = row.get() + size_t(x) * 4;
            p[0] = c.rgbRed;
            p[1] = c.rgbGreen;
            p[2] = c.rgbBlue;
            p[3] = c.rgbReserved;
        }
        file->Write(row.get(), 1, size_t(w) * 4);
    }
    return true;
}

bool VxImage::Encode2RGBA(uint8_t*& buffer, int32_t& size) {
    if (buffer) {
        SetLastError("缓冲区指针必须为空");
        return false;
    }
    VxMemFile file;
    if (!file.Open()) return false;
    if (!Encode2RGBA(&file)) return false;
    size = file.Size();
    buffer = file.GetBuffer(true);
    return true;
}
