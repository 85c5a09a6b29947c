// The manual page and the bash completion of vellumar-convert say what its
// --help and --version say.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

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

// Manual source as it reads: escaped hyphens plain, lines joined.
std::string ManualText() {
    const auto bytes = vt::ReadFileBytes(kCliDir + "/vellumar-convert.1");
    std::string text(bytes.begin(), bytes.end());
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    return std::regex_replace(text, std::regex(R"(\s+)"), " ");
}

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
        {"--ke", "--keep-going\n"},
        {"--to p", "PNG\nPCX\nPGX\nPNM\n"},          // formats in any letter case
        {"--to = jp", "JPG\nJP2\nJPC\n"},             // --to=jp, split at '='
        {"--quality ''", "\n"},                        // a number: nothing offered
        {"--info --frame ''", "\n"},
        {"--to PNG " + vt::ShellQuote(dir.file("photo")), dir.file("photo one.jpg") + "\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Complete(c.words), c.reply) << c.words;
}

}  // namespace
