#include "codecs/metafile/vx_metafile_codec.h"
#include "core/vx_codec.h"

VX_CODEC_MODULE(metafile, VxMetafileCodec)
