#include "app/gui/uri_list.h"

#include <cctype>

namespace vellumar::gui {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The path of one file: URI, decoded; empty when the URI names no local file.
std::string LocalPath(std::string_view uri) {
    constexpr std::string_view kScheme = "file:";
    if (uri.size() < kScheme.size() || !EqualsNoCase(uri.substr(0, kScheme.size()), kScheme))
        return {};
    std::string_view rest = uri.substr(kScheme.size());
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return {};
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !EqualsNoCase(host, "localhost")) return {};
        rest.remove_prefix(slash);
    }
    if (rest.empty() || rest.front() != '/') return {};
    rest = rest.substr(0, rest.find_first_of("?#"));

    std::string path;
    path.reserve(rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        const int hi = rest[i] == '%' && i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
        const int lo = hi >= 0 ? HexValue(rest[i + 2]) : -1;
        if (lo >= 0) {
            path.push_back(char(hi * 16 + lo));
            i += 2;
        } else {
            // A stray '%' is taken as it stands, as lenient producers mean it.
            path.push_back(rest[i]);
        }
    }
    if (path.find('\0') != std::string::npos) return {};
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::vector<std::string> LocalPathsFromUriList(std::string_view list) {
    std::vector<std::string> paths;
    while (!list.empty()) {
        const size_t end = list.find('\n');
        const std::string_view line = Trimmed(list.substr(0, end));
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        std::string path = LocalPath(line);
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

}  // namespace vellumar::gui
