#include "codecs/exr/vx_exr_codec.h"
#include "core/vx_codec.h"

VX_CODEC_MODULE(exr, VxExrCodec)
