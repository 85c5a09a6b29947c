// The manual page and the bash completion of vellumar-convert say what its
// --help and --version say.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>

#include "app/format_table/format_table.h"
#include "core/vx_codec.h"
#include "tests/support/test_support.h"

namespace {

const std::string kCliDir = VELLUMAR_SOURCE_DIR "/app/cli";

std::string Output(const std::string& command, int* status = nullptr) {
    vt::TempDir dir;
    const std::string out = dir.file("out.txt");
    const int s = vt::RunCommand(command + " >" + vt::ShellQuote(out) + " 2>&1");
    if (status) *status = s;
    const auto bytes = vt::ReadFileBytes(out);
    return {bytes.begin(), bytes.end()};
}

std::string Cli(const std::string& args) {
    return Output(vt::ShellQuote(VELLUMAR_CLI) + " " + args);
}

std::set<std::string> Options(const std::string& text) {
    static const std::regex option("--[a-z][a-z-]*[a-z]");
    std::set<std::string> found;
    for (std::sregex_iterator i(text.begin(), text.end(), option), end; i != end; ++i)
        found.insert(i->str());
    return found;
}

// The format names of --help's "FORMAT:" line, space separated.
std::string HelpFormats(const std::string& help) {
    const size_t at = help.find("FORMAT: ");
    if (at == std::string::npos) return {};
    return help.substr(at + 8, help.find('\n', at) - at - 8);
}

std::string FileText(const std::string& path) {
    const auto bytes = vt::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

// Manual source with escaped hyphens plain.
std::string ManualSource() {
    return std::regex_replace(FileText(kCliDir + "/vellumar-convert.1"), std::regex(R"(\\-)"), "-");
}

// As it reads: lines joined.
std::string Joined(const std::string& text) {
    return std::regex_replace(text, std::regex(R"(\s+)"), " ");
}

std::string ManualText() { return Joined(ManualSource()); }

TEST(CliDocs, ManualPageHasTheOptionsFormatsAndVersionOfTheProgram) {
    const std::string help = Cli("--help"), man = ManualText();
    ASSERT_FALSE(HelpFormats(help).empty()) << help;
    EXPECT_EQ(Options(man), Options(help)) << help;
    EXPECT_NE(man.find(HelpFormats(help)), std::string::npos) << HelpFormats(help);

    int status = -1;
    const std::string version = Output(vt::ShellQuote(VELLUMAR_CLI) + " --version", &status);
    EXPECT_EQ(status, 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(version, m, std::regex("vellumar-convert ([0-9.]+)\n")))
        << version;
    EXPECT_NE(man.find(".TH VELLUMAR-CONVERT 1 \"\" \"Vellumar " + m[1].str() + "\""),
              std::string::npos);
}

// Every option of --help starts a paragraph of its own in the manual page.
TEST(CliDocs, EachOptionHasItsOwnParagraph) {
    const std::string man = ManualSource();
    static const std::regex heading(R"(\.TP\n\.BI? (--[a-z][a-z-]*[a-z]))");
    std::set<std::string> headed;
    for (std::sregex_iterator i(man.begin(), man.end(), heading), end; i != end; ++i)
        headed.insert((*i)[1].str());
    EXPECT_EQ(headed, Options(Cli("--help")));
}

// The README and the manual page list the registry's targets and extensions
// and say the limits its lines hold, in the words these sentences use.
TEST(CliDocs, FormatListsAndLimitsAreTheRegistrys) {
    const std::string readmeSource = FileText(VELLUMAR_SOURCE_DIR "/README.md");
    const std::string readme = Joined(readmeSource);
    const std::string man = ManualText();
    const std::string targets = vellumar::TargetNames(" ");
    EXPECT_NE(readme.find("`FORMAT` is one of `" + targets + "`"), std::string::npos) << targets;
    EXPECT_NE(man.find("one of " + targets + ","), std::string::npos) << targets;

    std::string limits;
    std::set<std::string> extensions, unwritten;
    size_t count = 0;
    const VxCodecEntry* entries = VxCodecEntries(&count);
    for (size_t i = 0; i < count; ++i) {
        const VxCodecEntry& e = entries[i];
        std::istringstream words(e.extensions);
        for (std::string ext; words >> ext;) extensions.insert(ext);
        if (!e.caps.writes) unwritten.insert(std::string(e.name) + " cannot be written");
        if (!e.caps.maxSide) continue;
        limits += limits.empty() ? std::string(e.name) + " files cannot hold pictures above " +
                                       std::to_string(e.caps.maxSide) + " pixels on a side"
                                 : std::string(", ") + e.name + " files above " +
                                       std::to_string(e.caps.maxSide);
    }
    for (const std::string& text : {readme, man}) {
        EXPECT_NE(text.find(limits), std::string::npos) << limits;
        for (const std::string& u : unwritten) EXPECT_NE(text.find(u), std::string::npos) << u;
    }

    // The extensions column of the README's format table, a row a line.
    std::set<std::string> listed;
    const size_t table = readmeSource.find("| format | extensions |");
    ASSERT_NE(table, std::string::npos);
    std::istringstream rows(readmeSource.substr(table));
    static const std::regex row(R"(^\|[^|]*\|([^|]*)\|)"), ext("`([a-z0-9]+)`");
    for (std::string line; std::getline(rows, line) && line.rfind("|", 0) == 0;) {
        std::smatch m;
        if (!std::regex_search(line, m, row)) continue;
        const std::string cell = m[1].str();
        for (std::sregex_iterator x(cell.begin(), cell.end(), ext), end; x != end; ++x)
            listed.insert((*x)[1].str());
    }
    EXPECT_EQ(listed, extensions);
}

// What the completion offers for the words typed so far (the last is the one
// being completed), one reply a line.
std::string Complete(const std::string& words) {
    return Output("bash -c " + vt::ShellQuote("source " + vt::ShellQuote(kCliDir +
                  "/vellumar-convert.bash-completion") + "; COMP_WORDS=(" +
                  vt::ShellQuote(VELLUMAR_CLI) + " " +
                  words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _vellumar_convert; "
                  "printf '%s\\n' \"${COMPREPLY[@]}\""));
}

TEST(CliDocs, BashCompletionOffersWhatTheProgramTakes) {
    const std::string help = Cli("--help");
    EXPECT_EQ(Options(Complete("-")), Options(help));
    std::string formats = HelpFormats(help);
    std::replace(formats.begin(), formats.end(), ' ', '\n');
    EXPECT_EQ(Complete("--to ''"), formats + "\n");

    vt::TempDir dir;
    ASSERT_TRUE(vt::WriteFileBytes(dir.file("photo one.jpg"), {1}));
    const struct { std::string words, reply; } cases[] = {
        {"--ke", "--keep-dates\n--keep-going\n--keep-orientation\n"},
        {"--to p", "PNG\nPCX\nPGX\nPNM\nPSD\nPDF\n"},          // formats in any letter case
        {"--to = jp", "JPG\nJP2\nJPC\n"},             // --to=jp, split at '='
        {"--quality ''", "\n"},                        // a number: nothing offered
        {"--info --frame ''", "\n"},
        {"--to PNG " + vt::ShellQuote(dir.file("photo")), dir.file("photo one.jpg") + "\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Complete(c.words), c.reply) << c.words;
}

}  // namespace
