#include "codecs/pdf/vx_pdf_codec.h"
#include "core/vx_codec.h"

VX_CODEC_MODULE(pdf, VxPdfCodec)
