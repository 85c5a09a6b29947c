// The file names a drop carries, as the file system holds them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellumar::gui {

// The local paths of a text/uri-list (RFC 2483): one file: URI a line, '#'
// lines are comments. Percent escapes are decoded to bytes, so a name that
// is not valid UTF-8 keeps its bytes (text would replace them). URIs of other
// schemes or of another host, and names holding a NUL byte, are left out. A
// trailing '/' is dropped, so a folder reads as the folder itself.
std::vector<std::string> LocalPathsFromUriList(std::string_view list);

}  // namespace vellumar::gui
