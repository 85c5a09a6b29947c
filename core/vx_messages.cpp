#include "core/vx_messages.h"

#include "core/vx_image.h"

namespace {

const VxMessage kMessages[] = {
    {"block-too-large", kVxBlockTooLarge, "the picture would take more memory than a picture may"},
    {"decode-unknown", "解码: 未知或错误的图像格式", "decode: unknown or damaged picture format"},
    {"encode-unknown", "编码: 未知的图像格式", "encode: unknown picture format"},
    {"buffer-not-null", "缓冲区指针必须为空", "the buffer pointer must be null"},
    {"no-multipage", "多页编码: 这个格式不支持", "multi-page encoding: this format does not do it"},
    {"no-file", "文件句柄为空的", "no file to write to"},
    {"no-picture", "没有图像!!!", "no picture"},
    {"create-size", "创建图像对象: 高度和宽度必须大于零",
     "create picture: width and height must be above zero"},
    {"create-memory", "创建图像对象: 申请不到内存", "create picture: out of memory"},
    {"jp2-rgb-grey", "Jpeg2000 只能保存为RGB或灰度图像",
     "JPEG-2000 can only store RGB or grey pictures"},
    {"tga-depth", "图像位深只能为 8 或 24", "the picture's depth can only be 8 or 24 bits"},
    // The longer text first: it holds the shorter one.
    {"wbmp-size", "不能保存图像为WBMP格式: 宽和高不能超过 255 像素",
     "cannot save the picture as WBMP: width and height cannot be above 255 pixels"},
    {"wbmp-save", "不能保存图像为WBMP格式", "cannot save the picture as WBMP"},
    {"jpeg-rgb-grey", "JPEG 只能保存为RGB或灰度图像", "JPEG can only store RGB or grey pictures"},
    {"gif-write", "GIF 文件写出错误", "GIF: cannot write the file"},
    {"wmf-damaged", "损坏的WMF", "damaged WMF"},
    {"cancelled", "用户取消", "cancelled"},
    {"wmf-empty", "空的WMF", "empty WMF"},
    {"wmf-no-save", "不支持保存WMF", "WMF cannot be written"},
    {"ico-size", "不能保存图像做为ICON格式: 宽和高不能超过 256 像素",
     "cannot save the picture as ICO: width and height cannot be above 256 pixels"},
    {nullptr, nullptr, nullptr},
};

const VxNoteText kNotes[] = {
    {"frames-one", "kept {1} {2} of {3}: {4} stores one picture"},
    {"frames-not-carried", "kept {1} {2} of {3}: this build writes one picture to {4}"},
    {"pages-too-many", "kept page {1} of {2}: no more than {3} pages are kept together"},
    {"alpha-none", "dropped the transparency: {1} has none (composited on white)"},
    {"alpha-on-off", "kept on/off transparency only: {1} stores one transparent colour"},
    {"icc-dropped", "dropped the colour profile: {1} cannot hold it"},
    {"depth-reduced", "kept {1} of {2} bits a sample: {3} stores no more"},
    {"depth-converted", "kept {1} of {2} bits a sample: the colours were converted at {1}"},
    {"light-clipped", "clipped the light beyond white: {1} stores black to white only"},
    {"light-clipped-steps", "clipped the light beyond white: the picture was changed on the way"},
    {nullptr, nullptr},
};

}  // namespace

const VxNoteText* VxNoteTexts() { return kNotes; }

std::string VxFillNote(std::string_view text, const std::vector<std::string>& values) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t k = i + 2 < text.size() ? size_t(text[i + 1] - '1') : SIZE_MAX;
        if (text[i] == '{' && k < 9 && text[i + 2] == '}' && k < values.size()) {
            out += values[k];
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string VxNote(const VxNoteParts& note) {
    const VxNoteText* n = kNotes;
    while (n->id && note.id != n->id) ++n;
    return n->id ? VxFillNote(n->english, note.values) : std::string();
}

const VxMessage* VxMessages() { return kMessages; }

std::string VxEnglish(std::string_view text) {
    std::string out(text);
    for (const VxMessage* m = kMessages; m->id; ++m) {
        const std::string_view native = m->native;
        for (size_t at = out.find(native); at != std::string::npos;
             at = out.find(native, at + std::string_view(m->english).size()))
            out.replace(at, native.size(), m->english);
    }
    return out;
}
