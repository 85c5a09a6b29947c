#include "codecs/heif/vx_heif_reader.h"

#include <cstdio>

namespace vxheif {

namespace {

StreamReader& Of(void* userdata) { return *static_cast<StreamReader*>(userdata); }

int64_t Position(void* userdata) {
    StreamReader& r = Of(userdata);
    return r.file->Tell64() - r.start;
}

int Read(void* data, size_t size, void* userdata) {
    StreamReader& r = Of(userdata);
    if (r.codec->CancelledBetweenPieces()) {
        r.cancelled = true;
        return 1;
    }
    return r.file->Read(data, 1, size) == size ? 0 : 1;
}

int Seek(int64_t position, void* userdata) {
    StreamReader& r = Of(userdata);
    if (position < 0 || position > r.size) return 1;
    return r.file->Seek64(r.start + position, SEEK_SET) ? 0 : 1;
}

heif_reader_grow_status WaitForFileSize(int64_t target, void* userdata) {
    return target <= Of(userdata).size ? heif_reader_grow_status_size_reached
                                       : heif_reader_grow_status_size_beyond_eof;
}

}  // namespace

const heif_reader StreamReader::kFunctions = {1, Position, Read, Seek, WaitForFileSize};

}  // namespace vxheif
