// File names as the file system holds them.
#pragma once

#include <QString>

#include <string>

namespace vellumar::gui {

// The bytes that name `path` on disk. Names that are not valid UTF-8 (old
// archives named in GBK) reach the window with their bad bytes replaced; the
// folder is read for the one entry the text stands for. Falls back to the
// text's own encoding when no single entry matches.
std::string NativePath(const QString& path);

}  // namespace vellumar::gui
