#include "codecs/raw/vx_raw_codec.h"
#include "core/vx_codec.h"

VX_CODEC_MODULE(raw, VxRawCodec)
