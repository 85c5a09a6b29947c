// The window's own texts.
#pragma once

namespace vellumar::gui::text {

inline constexpr const char* kWindowTitle = "Vellumar 1.1";
inline constexpr const char* kListHeaderFile = "待处理图像文件";
inline constexpr const char* kListHeaderResult = "处理结果";
// Followed by the formats the registry lists, comma separated.
inline constexpr const char* kSupportedFormats = "支持的格式：";
inline constexpr const char* kOpenButton = "打开欲处理的图像文件（支持多文件处理）";
inline constexpr const char* kStartButton = "开始转换";
// The start button while a run goes, and the menu item that does the same.
inline constexpr const char* kStopButton = "停止转换";
inline constexpr const char* kFormatLabel = "欲转换到的格式：";
inline constexpr const char* kSaveDirLabel = "保存目录：";
inline constexpr const char* kSeparatorLabel = "/";
inline constexpr const char* kDefaultSaveDir = "DATA";
inline constexpr const char* kPrefixLabel = "自定义前缀名(防重复)：";

inline constexpr const char* kMenuProgram = "程序";
inline constexpr const char* kMenuExit = "退出";
inline constexpr const char* kMenuStop = "停止转换";
inline constexpr const char* kMenuOptions = "选项";
inline constexpr const char* kMenuKeepGoing = "遇到失败时继续转换";
inline constexpr const char* kMenuKeepNames = "保留原文件名";
inline constexpr const char* kMenuKeepOrientation = "保持图像的存储方向";
inline constexpr const char* kMenuStrip = "去除颜色配置和EXIF信息";
inline constexpr const char* kMenuResize = "缩小尺寸";
inline constexpr const char* kResizeNone = "原始尺寸";
inline constexpr const char* kResizeHalf = "缩小到 50%";
inline constexpr const char* kResizeQuarter = "缩小到 25%";
inline constexpr const char* kResize1920 = "不超过 1920×1920";
inline constexpr const char* kResize1280 = "不超过 1280×1280";
inline constexpr const char* kResize800 = "不超过 800×800";
inline constexpr const char* kMenuPalette = "调色板";
inline constexpr const char* kPaletteStandard = "标准调色板";
inline constexpr const char* kPaletteAdaptive = "自适应调色板";
inline constexpr const char* kMenuDither = "抖动";
inline constexpr const char* kDitherNone = "不抖动";
inline constexpr const char* kDitherFloydSteinberg = "误差扩散 (Floyd-Steinberg)";
inline constexpr const char* kMenuDepth = "位深";
inline constexpr const char* kDepthAsIs = "保持原位深";
inline constexpr const char* kDepth8 = "每通道 8 位";
inline constexpr const char* kDepth16 = "每通道 16 位";
inline constexpr const char* kMenuAbout = "关于";
inline constexpr const char* kMenuAboutAuthor = "关于作者";

inline constexpr const char* kAboutTitle = "关于作者";
inline constexpr const char* kAboutText =
    "软件完全免费使用！\r\n"
    "作者：Vellumar 开发者\r\n"
    "问题与建议请提交到项目的问题列表";

inline constexpr const char* kPickTitle = "选择要转换的文件";
// Shown as "图形格式(*.*)"; the pattern itself is "*" because on this platform
// "*.*" would hide files without an extension.
inline constexpr const char* kPickFilter = "图形格式(*.*) (*)";

inline constexpr const char* kPending = "待处理";
inline constexpr const char* kDone = "处理完成";
inline constexpr const char* kFailed = "处理失败";

inline constexpr const char* kWarningTitle = "警告";
inline constexpr const char* kInfoTitle = "信息";
inline constexpr const char* kNoFormat = "请选择欲转出的图像格式！";
inline constexpr const char* kBadPrefix = "自定义前缀名不能含有“/”！";
inline constexpr const char* kUnsupported = "不支持的文件格式！";
inline constexpr const char* kNoOutputDir = "请确保输出文件的目录存在！";
inline constexpr const char* kAllDone = "恭喜！处理已全部完成！";

}  // namespace vellumar::gui::text
