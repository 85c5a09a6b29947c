#include "codecs/jxl/vx_jxl_codec.h"
#include "codecs/jxl/vx_jxl_jpeg_transcode.h"
#include "core/vx_codec.h"

VX_CODEC_MODULE(jxl, VxJxlCodec)
// In the order of codecs/registry.cpp's transcoder table.
VX_CODEC_MODULE_WAYS(jxl, &vx::jxl::JxlFromJpeg, &vx::jxl::JpegFromJxl)
