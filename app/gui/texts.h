// The window's own texts.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace vellumar::gui::text {

// A text of this file in the window's language: Chinese as written here,
// or the translation the locale chose.
inline QString T(const char* source) { return QCoreApplication::translate("vellumar", source); }

inline constexpr const char* kWindowTitle = "Vellumar 1.1";
inline constexpr const char* kListHeaderFile = QT_TRANSLATE_NOOP("vellumar", "待处理图像文件");
inline constexpr const char* kListHeaderResult = QT_TRANSLATE_NOOP("vellumar", "处理结果");
// Followed by the formats the registry lists, comma separated.
inline constexpr const char* kSupportedFormats = QT_TRANSLATE_NOOP("vellumar", "支持的格式：");
inline constexpr const char* kOpenButton = QT_TRANSLATE_NOOP("vellumar", "打开欲处理的图像文件（支持多文件处理）");
inline constexpr const char* kStartButton = QT_TRANSLATE_NOOP("vellumar", "开始转换");
// The start button while a run goes, and the menu item that does the same.
inline constexpr const char* kStopButton = QT_TRANSLATE_NOOP("vellumar", "停止转换");
inline constexpr const char* kFormatLabel = QT_TRANSLATE_NOOP("vellumar", "欲转换到的格式：");
inline constexpr const char* kSaveDirLabel = QT_TRANSLATE_NOOP("vellumar", "保存目录：");
inline constexpr const char* kSeparatorLabel = "/";
inline constexpr const char* kDefaultSaveDir = "DATA";
inline constexpr const char* kPrefixLabel = QT_TRANSLATE_NOOP("vellumar", "自定义前缀名(防重复)：");

inline constexpr const char* kMenuProgram = QT_TRANSLATE_NOOP("vellumar", "程序");
inline constexpr const char* kMenuExit = QT_TRANSLATE_NOOP("vellumar", "退出");
inline constexpr const char* kMenuStop = QT_TRANSLATE_NOOP("vellumar", "停止转换");
inline constexpr const char* kMenuOptions = QT_TRANSLATE_NOOP("vellumar", "选项");
inline constexpr const char* kMenuKeepGoing = QT_TRANSLATE_NOOP("vellumar", "遇到失败时继续转换");
inline constexpr const char* kMenuKeepNames = QT_TRANSLATE_NOOP("vellumar", "保留原文件名");
inline constexpr const char* kMenuKeepOrientation = QT_TRANSLATE_NOOP("vellumar", "保持图像的存储方向");
inline constexpr const char* kMenuStrip = QT_TRANSLATE_NOOP("vellumar", "去除颜色配置和EXIF信息");
inline constexpr const char* kMenuResize = QT_TRANSLATE_NOOP("vellumar", "缩小尺寸");
inline constexpr const char* kResizeNone = QT_TRANSLATE_NOOP("vellumar", "原始尺寸");
inline constexpr const char* kResizeHalf = QT_TRANSLATE_NOOP("vellumar", "缩小到 50%");
inline constexpr const char* kResizeQuarter = QT_TRANSLATE_NOOP("vellumar", "缩小到 25%");
inline constexpr const char* kResize1920 = QT_TRANSLATE_NOOP("vellumar", "不超过 1920×1920");
inline constexpr const char* kResize1280 = QT_TRANSLATE_NOOP("vellumar", "不超过 1280×1280");
inline constexpr const char* kResize800 = QT_TRANSLATE_NOOP("vellumar", "不超过 800×800");
inline constexpr const char* kMenuPalette = QT_TRANSLATE_NOOP("vellumar", "调色板");
inline constexpr const char* kPaletteStandard = QT_TRANSLATE_NOOP("vellumar", "标准调色板");
inline constexpr const char* kPaletteAdaptive = QT_TRANSLATE_NOOP("vellumar", "自适应调色板");
inline constexpr const char* kMenuDither = QT_TRANSLATE_NOOP("vellumar", "抖动");
inline constexpr const char* kDitherNone = QT_TRANSLATE_NOOP("vellumar", "不抖动");
inline constexpr const char* kDitherFloydSteinberg = QT_TRANSLATE_NOOP("vellumar", "误差扩散 (Floyd-Steinberg)");
inline constexpr const char* kMenuDepth = QT_TRANSLATE_NOOP("vellumar", "位深");
inline constexpr const char* kDepthAsIs = QT_TRANSLATE_NOOP("vellumar", "保持原位深");
inline constexpr const char* kDepth8 = QT_TRANSLATE_NOOP("vellumar", "每通道 8 位");
inline constexpr const char* kDepth16 = QT_TRANSLATE_NOOP("vellumar", "每通道 16 位");
inline constexpr const char* kMenuAbout = QT_TRANSLATE_NOOP("vellumar", "关于");
inline constexpr const char* kMenuAboutAuthor = QT_TRANSLATE_NOOP("vellumar", "关于作者");

inline constexpr const char* kAboutTitle = QT_TRANSLATE_NOOP("vellumar", "关于作者");
inline constexpr const char* kAboutText = QT_TRANSLATE_NOOP(
    "vellumar", "软件完全免费使用！\r\n作者：Vellumar 开发者\r\n问题与建议请提交到项目的问题列表");

inline constexpr const char* kPickTitle = QT_TRANSLATE_NOOP("vellumar", "选择要转换的文件");
// Shown as "图形格式(*.*)"; the pattern itself is "*" because on this platform
// "*.*" would hide files without an extension.
inline constexpr const char* kPickFilter = QT_TRANSLATE_NOOP("vellumar", "图形格式(*.*) (*)");

// The list's context menu.
inline constexpr const char* kAddFiles = QT_TRANSLATE_NOOP("vellumar", "添加文件…");
inline constexpr const char* kRemoveRows = QT_TRANSLATE_NOOP("vellumar", "移除所选行");
inline constexpr const char* kClearList = QT_TRANSLATE_NOOP("vellumar", "清空列表");
inline constexpr const char* kBrowseSaveDir = QT_TRANSLATE_NOOP("vellumar", "选择保存目录…");
// The quality box of the lossy targets; 0 leaves each writer its default.
inline constexpr const char* kQualityDefault = QT_TRANSLATE_NOOP("vellumar", "默认");
inline constexpr const char* kQualityTip = QT_TRANSLATE_NOOP("vellumar", "图像质量（1–100）；默认：各格式自己的质量");

// Beside the progress bar: rows ended of all, then the time left once known.
inline constexpr const char* kProgressCount = "%1/%2";
inline constexpr const char* kTimeLeft = QT_TRANSLATE_NOOP("vellumar", "%1，剩余约 %2");
// The box at the end of a run past failures.
inline constexpr const char* kSummaryTitle = QT_TRANSLATE_NOOP("vellumar", "转换结果");
inline constexpr const char* kSummaryText = QT_TRANSLATE_NOOP("vellumar", "已转换：%1\n失败：%2\n跳过：%3\n用时：%4");
inline constexpr const char* kOpenSaveDir = QT_TRANSLATE_NOOP("vellumar", "打开保存目录");

// The preview's facts: format, width, height, bits per pixel, frames.
inline constexpr const char* kPreviewFacts = QT_TRANSLATE_NOOP("vellumar", "%1\n%2 × %3 像素\n%4 位/像素\n%5 帧");

inline constexpr const char* kPending = QT_TRANSLATE_NOOP("vellumar", "待处理");
inline constexpr const char* kConverting = QT_TRANSLATE_NOOP("vellumar", "转换中");
inline constexpr const char* kDone = QT_TRANSLATE_NOOP("vellumar", "处理完成");
inline constexpr const char* kFailed = QT_TRANSLATE_NOOP("vellumar", "处理失败");

inline constexpr const char* kWarningTitle = QT_TRANSLATE_NOOP("vellumar", "警告");
inline constexpr const char* kInfoTitle = QT_TRANSLATE_NOOP("vellumar", "信息");
inline constexpr const char* kNoFormat = QT_TRANSLATE_NOOP("vellumar", "请选择欲转出的图像格式！");
inline constexpr const char* kBadPrefix = QT_TRANSLATE_NOOP("vellumar", "自定义前缀名不能含有“/”！");
inline constexpr const char* kUnsupported = QT_TRANSLATE_NOOP("vellumar", "不支持的文件格式！");
inline constexpr const char* kNoOutputDir = QT_TRANSLATE_NOOP("vellumar", "请确保输出文件的目录存在！");
inline constexpr const char* kEmptyList = QT_TRANSLATE_NOOP("vellumar", "请先打开欲处理的图像文件！");
inline constexpr const char* kAllDone = QT_TRANSLATE_NOOP("vellumar", "恭喜！处理已全部完成！");

}  // namespace vellumar::gui::text
