#include "codecs/heif/vx_heif_codec.h"
#include "core/vx_codec.h"

VX_CODEC_MODULE(heif, VxHeifCodec)
