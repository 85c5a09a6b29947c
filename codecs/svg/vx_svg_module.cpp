#include "codecs/svg/vx_svg_codec.h"
#include "core/vx_codec.h"

VX_CODEC_MODULE(svg, VxSvgCodec)
