// A folder converted into itself, through the command line, ended every way a
// run can end: a failed row, a signal, two signals, SIGKILL, another run.
// Every picture must be on the disk afterwards, and the next run must leave
// exactly one copy of each under a name of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "app/batch/folder_lock.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

bool IsWorkFile(const std::string& name) { return name[0] == '.'; }

// How often each content appears among the folder's files (work files apart).
std::map<Bytes, int> Contents(const std::string& dir, bool withWorkFiles) {
    std::map<Bytes, int> seen;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && (withWorkFiles || !IsWorkFile(e.path().filename())))
            ++seen[vt::ReadFileBytes(e.path())];
    return seen;
}

// main1.BMP ... mainN.BMP, each a picture of its own; BMP to BMP writes the
// same bytes, so a picture is found by its bytes wherever it went.
std::vector<Bytes> MakeFolder(const std::string& dir, int n, int side) {
    fs::create_directory(dir);
    std::vector<Bytes> pictures;
    for (int i = 1; i <= n; ++i) {
        VxImage img = vt::MakeGradient24(side + i, side);
        const std::string path = dir + "/main" + std::to_string(i) + ".BMP";
        EXPECT_TRUE(img.Save(path.c_str(), VX_FORMAT_BMP));
        pictures.push_back(vt::ReadFileBytes(path));
    }
    return pictures;
}

pid_t Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), VELLUMAR_CLI);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, VELLUMAR_CLI, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return status;
}

// Any files the run has written or is writing.
int WorkDone(const std::string& dir, const std::vector<Bytes>& start) {
    int changed = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename();
        if (name.rfind(".vxtmp-", 0) == 0 || name.rfind(".vxjournal-", 0) == 0) ++changed;
    }
    const auto now = Contents(dir, false);
    for (const Bytes& b : start) changed += now.count(b) ? 0 : 1;
    return changed;
}

std::vector<std::string> Reversed(const std::string& dir, int n) {
    std::vector<std::string> files;
    for (int i = n; i >= 1; --i) files.push_back(dir + "/main" + std::to_string(i) + ".BMP");
    return files;
}

// Every picture is somewhere (a work file may hold one); after the next run
// into the folder, each is there once, under a name, and no work file is left.
void ExpectNothingLost(const std::string& dir, const std::vector<Bytes>& pictures) {
    const auto anywhere = Contents(dir, true);
    for (size_t i = 0; i < pictures.size(); ++i)
        EXPECT_TRUE(anywhere.count(pictures[i])) << "picture " << i + 1 << " is lost";
    VxImage small = vt::MakeGradient24(3, 3);
    const std::string other = dir + "/../other.BMP";
    ASSERT_TRUE(small.Save(other.c_str(), VX_FORMAT_BMP));
    EXPECT_EQ(WaitExit(Spawn({"--to", "BMP", "--prefix", "x", "--out-dir", dir, other})), 0);
    fs::remove(dir + "/x1.BMP");
    const auto named = Contents(dir, false);
    for (size_t i = 0; i < pictures.size(); ++i) {
        const auto it = named.find(pictures[i]);
        EXPECT_TRUE(it != named.end() && it->second == 1) << "picture " << i + 1;
    }
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_FALSE(IsWorkFile(e.path().filename())) << "left: " << e.path();
}

// A failed row stops the run; the files it replaced were read by rows that ran.
TEST(InPlace, StoppedByAFailedRow) {
    vt::TempDir tmp;
    const std::string g = tmp.file("g");
    const auto pictures = MakeFolder(g, 12, 16);
    ASSERT_TRUE(vt::WriteFileBytes(g + "/main15.BMP", {'j', 'u', 'n', 'k'}));
    std::vector<std::string> args = {"--to", "BMP", "--out-dir", g};
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(g)) names.push_back(e.path());
    std::sort(names.begin(), names.end());  // as a shell lists them: main1, main10, ...
    for (const char* jobs : {"1", "3"}) {
        std::vector<std::string> run = args;
        run.insert(run.end(), {"--jobs", jobs});
        run.insert(run.end(), names.begin(), names.end());
        EXPECT_EQ(WEXITSTATUS(WaitExit(Spawn(run))), 1);
        ExpectNothingLost(g, pictures);
    }
}

// Signals and SIGKILL at different points of a folder listed backwards (every
// file is another row's source).
TEST(InPlace, EndedBySignals) {
    vt::TempDir tmp;
    struct Case {
        int first, second;  // signals; 0: none
        int after;          // sent once this much work is seen
    };
    const Case cases[] = {{SIGINT, 0, 3},  {SIGTERM, 0, 12}, {SIGINT, SIGINT, 2},
                          {SIGKILL, 0, 1}, {SIGKILL, 0, 9},  {SIGKILL, 0, 25}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " after " << c.after);
        const std::string g = tmp.file("g" + std::to_string(++n));
        const auto pictures = MakeFolder(g, 40, 300);
        std::vector<std::string> args = {"--to", "BMP", "--jobs", "2", "--out-dir", g};
        for (const std::string& f : Reversed(g, 40)) args.push_back(f);
        const pid_t pid = Spawn(args);
        bool ended = false;
        for (int polls = 0; polls < 200000 && WorkDone(g, pictures) < c.after; ++polls) {
            int status = 0;
            if ((ended = waitpid(pid, &status, WNOHANG) == pid)) break;
            usleep(200);
        }
        if (!ended) {
            kill(pid, c.first);
            if (c.second) kill(pid, c.second);
            WaitExit(pid);
        }
        ExpectNothingLost(g, pictures);
    }
}

// A folder another run holds is refused, saying so; once it is free the run goes.
TEST(InPlace, AnotherRunHoldsTheFolder) {
    vt::TempDir tmp;
    const std::string g = tmp.file("g");
    MakeFolder(g, 2, 8);
    for (const auto mode : {vellumar::batch::FolderLocking::Exclusive,
                            vellumar::batch::FolderLocking::Shared}) {
        std::string why;
        auto held = vellumar::batch::FolderLock::Take(g, mode, why);
        ASSERT_TRUE(held) << why;
        const std::string err = tmp.file("err");
        const int status = vt::RunCommand(vt::ShellQuote(VELLUMAR_CLI) + " --to BMP --out-dir " +
                                          vt::ShellQuote(g) + " " + vt::ShellQuote(g + "/main2.BMP") +
                                          " 2>" + vt::ShellQuote(err));
        const Bytes said = vt::ReadFileBytes(err);
        const std::string text(said.begin(), said.end());
        EXPECT_NE(status, 0);
        EXPECT_NE(text.find("another conversion is writing into " + g), std::string::npos) << text;
        if (mode == vellumar::batch::FolderLocking::Exclusive) {
            EXPECT_NE(text.find("(process " + std::to_string(getpid()) + ")"), std::string::npos);
        }
    }
    EXPECT_EQ(WaitExit(Spawn({"--to", "BMP", "--out-dir", g, g + "/main2.BMP"})), 0);
}

// A pipe nobody writes to does not hold a run beyond a signal.
TEST(InPlace, PipeWithoutWriterEndsOnASignal) {
    vt::TempDir tmp;
    const std::string fifo = tmp.file("pipe.bmp");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = Spawn({"--to", "PNG", "--out-dir", tmp.file("out"), fifo});
    // Signalled once the run has made its folder, so it is waiting on the pipe.
    for (int polls = 0; polls < 100000 && !vt::FileExists(tmp.file("out/.vellumar-lock")); ++polls)
        usleep(200);
    kill(pid, SIGTERM);
    const int status = WaitExit(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
}

}  // namespace
