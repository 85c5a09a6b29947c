#include "tests/support/reference_metadata.h"

#include <cstdio>
#include <memory>
#include <sstream>

#include "tests/support/test_support.h"

namespace vt {

namespace {

std::string Tool() { return std::string(VELLUMAR_TEST_SUPPORT_DIR) + "/metadata_tool.py"; }

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    if (hex == "-") return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

}  // namespace

std::optional<ReferenceMetadata> ReadMetadataWithPillow(const std::string& path) {
    const std::string cmd = "/usr/bin/python3 " + ShellQuote(Tool()) + " read " + ShellQuote(path) +
                            " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    if (!pipe) return std::nullopt;
    std::string text;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof(buf), pipe.get())) > 0;) text.append(buf, n);
    if (pclose(pipe.release()) != 0) return std::nullopt;
    ReferenceMetadata m;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "icc" || key == "exif") {
            std::string hex;
            words >> hex;
            (key == "icc" ? m.icc : m.exif) = FromHex(hex);
        } else if (key == "tag") {
            int tag = 0;
            words >> tag >> std::ws;
            std::getline(words, m.tags[tag]);
        }
    }
    return m;
}

std::optional<ReferenceMetadata> ReadMetadataWithTools(const std::string& path) {
    if (RunCommand("test -x /usr/bin/exiftool -a -x /usr/bin/djxl") != 0) return std::nullopt;
    const bool jxl = path.size() > 4 && path.compare(path.size() - 4, 4, ".jxl") == 0;
    const std::string icc = path + ".ref.icc";
    const std::string cmd =
        jxl ? "/usr/bin/djxl " + ShellQuote(path) + " " + ShellQuote(path + ".ref.png") +
                  " --orig_icc_out=" + ShellQuote(icc) + " >/dev/null 2>&1"
            : "/usr/bin/exiftool -b -icc_profile " + ShellQuote(path) + " > " + ShellQuote(icc);
    if (RunCommand(cmd) != 0) return std::nullopt;
    ReferenceMetadata m;
    m.icc = ReadFileBytes(icc);
    std::remove(icc.c_str());
    if (jxl) std::remove((path + ".ref.png").c_str());
    const std::string tags = "/usr/bin/exiftool -S -n -Make -Orientation " + ShellQuote(path);
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(tags.c_str(), "r"), pclose);
    if (!pipe) return std::nullopt;
    char line[512];
    while (std::fgets(line, sizeof(line), pipe.get())) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        for (const auto& [tag, name] : {std::pair{271, std::string("Make: ")},
                                        std::pair{274, std::string("Orientation: ")}})
            if (text.rfind(name, 0) == 0) m.tags[tag] = text.substr(name.size());
    }
    return m;
}

bool WriteWithPillow(const std::string& path, const std::string& format,
                     const std::vector<uint8_t>& icc, int orientation) {
    const std::string iccPath = path + ".icc";
    if (!WriteFileBytes(iccPath, icc)) return false;
    const std::string cmd = "/usr/bin/python3 " + ShellQuote(Tool()) + " write " +
                            ShellQuote(path) + " " + format + " " + ShellQuote(iccPath) + " " +
                            std::to_string(orientation) + " 2>/dev/null";
    const bool ok = RunCommand(cmd) == 0;
    std::remove(iccPath.c_str());
    return ok;
}

}  // namespace vt
