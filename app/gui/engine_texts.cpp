#include "app/gui/engine_texts.h"

#include <vector>

#include "app/gui/texts.h"

namespace vellumar::gui {

namespace {

struct Zh {
    const char* id;
    const char* text;
};

// Values are numbers and format names, but for the word of the frame notes.
const Zh kNotes[] = {
    {"frames-one", "只保留了第 {2} {1}（共 {3} {1}）：{4} 只能存储一张图像"},
    {"frames-not-carried", "只保留了第 {2} {1}（共 {3} {1}）：本版本向 {4} 只写一张图像"},
    {"pages-too-many", "只保留了第 {1} 页（共 {2} 页）：最多一起保留 {3} 页"},
    {"alpha-none", "去除了透明度：{1} 不支持透明（已合成在白色上）"},
    {"alpha-on-off", "只保留了开/关透明度：{1} 只能存储一种透明色"},
    {"icc-dropped", "去除了颜色配置：{1} 不能保存它"},
    {"depth-reduced", "每个采样只保留了 {2} 位中的 {1} 位：{3} 不能存储更多"},
    {"depth-converted", "每个采样只保留了 {2} 位中的 {1} 位：颜色以 {1} 位转换"},
    {"light-clipped", "截去了超过白色的光：{1} 只能存储从黑到白"},
    {"light-clipped-steps", "截去了超过白色的光：图像在转换中被改变了"},
};

std::string ChineseValue(const std::string& v) {
    if (v == "page") return "页";
    if (v == "frame") return "帧";
    return v;
}

}  // namespace

bool WindowInChinese() {
    return text::T(text::kStartButton) == QString::fromUtf8(text::kStartButton);
}

const char* ChineseNote(std::string_view id) {
    for (const Zh& z : kNotes)
        if (id == z.id) return z.text;
    return nullptr;
}

QString EngineReason(const std::string& reason) {
    return QString::fromStdString(WindowInChinese() ? reason : VxEnglish(reason));
}

QString EngineNote(const VxNoteParts& note) {
    const char* zh = WindowInChinese() ? ChineseNote(note.id) : nullptr;
    if (!zh) return QString::fromStdString(VxNote(note));
    std::vector<std::string> values;
    for (const std::string& v : note.values) values.push_back(ChineseValue(v));
    return QString::fromStdString(VxFillNote(zh, values));
}

}  // namespace vellumar::gui
