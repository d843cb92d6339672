// The tandrel program from start to shutdown: files it keeps, exit status,
// arguments, end of input and signals.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "console/tandrel_process_fixture.h"

namespace {

using Mode = TandrelProcess::Mode;

// The first and the last line of log.txt.
std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string last_line(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
    size_t feed = trimmed.rfind('\n');
    return feed == std::string::npos ? trimmed : trimmed.substr(feed + 1);
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The 16-byte user hash at the start of pref.met's own record.
std::string pref_identity(const std::string& pref) { return pref.size() >= 16 ? pref.substr(0, 16) : ""; }

}  // namespace

TEST_F(TandrelTest, QuitWritesPreferencesAndLogAndKeepsIdentity) {
    EXPECT_EQ(runWith({}, "q\ny\n"), 0) << process_.err();
    EXPECT_NE(process_.out().find("Are you sure you want to exit?(y or n): "), std::string::npos);
    EXPECT_NE(process_.err().find("Welcome to Tandrel command line client 0.50\n"), std::string::npos);
    EXPECT_NE(process_.err().find("Enter commands at any time (type '?' for help)\n"), std::string::npos);

    ASSERT_TRUE(exists("pref.met"));
    EXPECT_FALSE(exists("pref.met.bak"));
    std::string pref = readFile("pref.met");
    std::string identity = pref_identity(pref);
    ASSERT_EQ(identity.size(), 16u);
    EXPECT_NE(identity, std::string(16, '\0'));
    for (const char* key : {"maxCon", "screenLines", "userMaxUpF", "userMaxDownF", "lineDown"})
        EXPECT_NE(pref.find(key), std::string::npos) << key;

    std::string log = readFile("log.txt");
    EXPECT_TRUE(ends_with(first_line(log), "]: Start Vextorine v0.50")) << log;
    EXPECT_TRUE(ends_with(last_line(log), "]: End Tandrel")) << log;

    // A second run keeps the identity and starts a new log.
    TandrelProcess second;
    ASSERT_TRUE(second.start(dir_, {}, Mode::kPipes));
    second.write("q\nyes\n");
    second.closeInput();
    ASSERT_TRUE(second.waitExit(20000));
    EXPECT_EQ(second.status(), 0);
    EXPECT_EQ(pref_identity(readFile("pref.met")), identity);
    std::string log2 = readFile("log.txt");
    EXPECT_TRUE(ends_with(first_line(log2), "]: Start Vextorine v0.50")) << log2;
    EXPECT_EQ(log2.find("Start Vextorine", log2.find('\n')), std::string::npos) << log2;
}

TEST_F(TandrelTest, QuitAnsweredNoKeepsRunning) {
    // Only an answer beginning with y or Y quits; end of input then ends
    // the run in order.
    EXPECT_EQ(runWith({}, "q\nno\nq\n\nq\nok\necho still here\n"), 0);
    EXPECT_NE(process_.out().find("still here\n"), std::string::npos) << process_.out();
    EXPECT_TRUE(exists("pref.met"));
    EXPECT_TRUE(ends_with(last_line(readFile("log.txt")), "]: End Tandrel"));
}

TEST_F(TandrelTest, EndOfInputShutsDownInOrder) {
    TandrelProcess process;
    ASSERT_TRUE(process.start(dir_, {}, Mode::kPipes));
    process.closeInput();
    ASSERT_TRUE(process.waitExit(20000));
    EXPECT_EQ(process.status(), 0);
    EXPECT_TRUE(exists("pref.met"));
    EXPECT_FALSE(exists("pref.met.bak"));
    // One prompt, no flood of unrecognised lines.
    EXPECT_EQ(process.out().find("Unrecognized"), std::string::npos) << process.out();
    EXPECT_LT(process.out().size(), 16u) << process.out();
}

TEST_F(TandrelTest, UnsavedPreferencesFailTheExitStatus) {
    TandrelProcess process;
    // The argument runs once the start-up loads (which make the transfer
    // directories) are done.
    ASSERT_TRUE(process.start(dir_, {"echo started"}, Mode::kMergedPipes));
    ASSERT_TRUE(process.waitFor("> ", 20000));
    ASSERT_TRUE(process.waitFor("started", 20000));
    // The working directory goes away under the running client: pref.met
    // cannot be written at shutdown. It is moved away in one step (the
    // client's threads may be writing in it meanwhile) and removed after.
    std::string gone = dir_ + ".gone";
    ASSERT_EQ(::rename(dir_.c_str(), gone.c_str()), 0);
    process.closeInput();
    ASSERT_TRUE(process.waitExit(20000));
    std::error_code ignored;
    std::filesystem::remove_all(gone, ignored);
    EXPECT_EQ(process.status(), 1);
    EXPECT_NE(process.out().find("Settings couldn't be saved"), std::string::npos) << process.out();
}

TEST_F(TandrelTest, ClosedStandardDescriptorsAreNoFault) {
    // Input, output and error closed: input reads as ended, output is lost.
    std::string command = "cd '" + dir_ + "' && timeout 20 '" + tandrel_binary() + "' <&- >&- 2>&-";
    int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0);
    EXPECT_TRUE(exists("pref.met"));
    EXPECT_TRUE(ends_with(last_line(readFile("log.txt")), "]: End Tandrel"));
}

// Under a file-size limit a write fails like one on a full disk: the
// failed save is reported and the exit status says so; no signal ends the
// process.
TEST_F(TandrelTest, FileSizeLimitIsAFailedWriteNotASignal) {
    // The limit holds for files only: the output goes through a pipe.
    std::string command = "cd '" + dir_ + "' && { ulimit -f 0; timeout 20 '" + tandrel_binary() +
                          "' </dev/null; echo \"status $?\"; } 2>&1 | cat >out.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string out = readFile("out.txt");
    EXPECT_NE(out.find("Settings couldn't be saved"), std::string::npos) << out;
    EXPECT_NE(out.find("status 1\n"), std::string::npos) << out;
}

TEST_F(TandrelTest, TermAndHangUpSignalsSavePreferences) {
    for (int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ::unlink(path("pref.met").c_str());
        TandrelProcess process;
        ASSERT_TRUE(process.start(dir_, {}, Mode::kPipes));
        ASSERT_TRUE(process.waitFor("> ", 20000));
        process.sendSignal(signal);
        ASSERT_TRUE(process.waitExit(5000));
        EXPECT_EQ(process.status(), 0);
        EXPECT_TRUE(exists("pref.met"));
        EXPECT_TRUE(ends_with(last_line(readFile("log.txt")), "]: End Tandrel"));
    }
}

TEST_F(TandrelTest, TermSignalEndsAPendingQuestion) {
    TandrelProcess process;
    ASSERT_TRUE(process.start(dir_, {}, Mode::kPipes));
    process.write("q\n");
    ASSERT_TRUE(process.waitFor("(y or n): ", 20000));
    process.sendSignal(SIGTERM);
    ASSERT_TRUE(process.waitExit(5000));
    EXPECT_EQ(process.status(), 0);
    EXPECT_TRUE(ends_with(last_line(readFile("log.txt")), "]: End Tandrel"));
    // The unanswered question's line is ended.
    EXPECT_TRUE(ends_with(process.out(), "(y or n): \n")) << process.out();
}

TEST_F(TandrelTest, EndOfInputAtTheQuestionShutsDown) {
    EXPECT_EQ(runWith({}, "q\n"), 0);
    EXPECT_TRUE(ends_with(process_.out(), "(y or n): \n")) << process_.out();
    EXPECT_TRUE(ends_with(last_line(readFile("log.txt")), "]: End Tandrel"));
}

// A "q" that is not typed alone at the console runs on the task thread,
// which must never read standard input: it shuts down without a question
// while the input stays open and silent.
TEST_F(TandrelTest, QuitNotTypedAtTheConsoleAsksNothing) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string input;
    } cases[] = {
        {"argument", {"q"}, ""},
        {"trailing blank", {}, "q \n"},
        {"junk after a NUL", {}, std::string("q\0junk\n", 7)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TandrelProcess process;
        ASSERT_TRUE(process.start(dir_, c.args, Mode::kPipes));
        process.write(c.input);
        EXPECT_TRUE(process.waitExit(20000)) << process.out();
        EXPECT_EQ(process.status(), 0);
        EXPECT_EQ(process.out().find("(y or n)"), std::string::npos) << process.out();
        EXPECT_TRUE(ends_with(last_line(readFile("log.txt")), "]: End Tandrel"));
    }
}

// A pref.met the client cannot read ends the start-up with a message that
// names it; nothing is written (no new identity saved over it, no log).
TEST_F(TandrelTest, UnreadablePrefsEndTheStartUpAndWriteNothing) {
    ASSERT_EQ(::unlink(path("pref.met").c_str()), 0);
    ASSERT_EQ(::mkdir(path("pref.met").c_str(), 0700), 0);
    EXPECT_EQ(runWith({}, "echo never\n"), 1);
    EXPECT_NE(process_.err().find(path("pref.met")), std::string::npos) << process_.err();
    EXPECT_NE(process_.err().find("not a regular file"), std::string::npos) << process_.err();
    EXPECT_EQ(process_.out().find("never"), std::string::npos);
    EXPECT_FALSE(exists("log.txt"));
    EXPECT_FALSE(exists("pref.met.corrupt"));
    struct stat st;
    ASSERT_EQ(::stat(path("pref.met").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// Two clients in one directory would delete each other's temporary files
// and logs: the second one ends at once, the first goes on untouched.
TEST_F(TandrelTest, SecondClientInOneDirectoryEndsAtOnce) {
    TandrelProcess first;
    ASSERT_TRUE(first.start(dir_, {}, Mode::kPipes));
    ASSERT_TRUE(first.waitFor("> ", 20000));
    std::string log = readFile("log.txt");

    TandrelProcess second;
    ASSERT_TRUE(second.start(dir_, {}, Mode::kPipes));
    EXPECT_TRUE(second.waitExit(20000));
    EXPECT_EQ(second.status(), 1);
    EXPECT_NE(second.err().find("Another tandrel is running in " + dir_), std::string::npos) << second.err();
    EXPECT_EQ(readFile("log.txt"), log);

    first.write("echo still mine\n");
    ASSERT_TRUE(first.waitFor("still mine", 20000));
    first.closeInput();
    ASSERT_TRUE(first.waitExit(20000));
    EXPECT_EQ(first.status(), 0);
    EXPECT_TRUE(ends_with(last_line(readFile("log.txt")), "]: End Tandrel"));
}

// A change the console answered "Done." to is on disk already: a kill
// right after the next prompt loses nothing.
TEST_F(TandrelTest, ChangedSettingsSurviveAKill) {
    TandrelProcess process;
    ASSERT_TRUE(process.start(dir_, {}, Mode::kPipes));
    ASSERT_TRUE(process.waitFor("> ", 20000));
    size_t before = process.out().size();
    process.write("name kilroy\nmcon 31\n");
    ASSERT_TRUE(process.waitFor("ok.", 20000, before));
    size_t named = process.out().find("ok.", before);
    ASSERT_TRUE(process.waitFor("Done.", 20000, named));
    size_t done = process.out().find("Done.", named);
    ASSERT_TRUE(process.waitFor("> ", 20000, done));
    process.sendSignal(SIGKILL);
    ASSERT_TRUE(process.waitExit(5000));
    std::string pref = readFile("pref.met");
    EXPECT_NE(pref.find("kilroy"), std::string::npos);
    EXPECT_EQ(runWith({}, "name\nmcon\n"), 0);
    EXPECT_NE(process_.out().find("kilroy\n"), std::string::npos) << process_.out();
    EXPECT_NE(process_.out().find("31\n"), std::string::npos) << process_.out();
}

TEST_F(TandrelTest, InterruptEndsTheWaitWithoutConsole) {
    TandrelProcess process;
    ASSERT_TRUE(process.start(dir_, {"!"}, Mode::kPipes));
    // The log appears once start-up is through.
    for (int i = 0; i < 200 && !exists("log.txt"); ++i) usleep(50000);
    ASSERT_TRUE(exists("log.txt"));
    process.sendSignal(SIGINT);
    ASSERT_TRUE(process.waitExit(5000));
    EXPECT_EQ(process.status(), 0);
    EXPECT_NE(process.err().find("Welcome to Tandrel"), std::string::npos);
    EXPECT_TRUE(exists("pref.met"));
    EXPECT_TRUE(ends_with(last_line(readFile("log.txt")), "]: End Tandrel"));
}

TEST_F(TandrelTest, CommandArgumentRunsBeforeTheWelcomeLines) {
    EXPECT_EQ(runWith({"echo from argument", "who", "w", "wx", "w-5"}, "", Mode::kMergedPipes), 0);
    const std::string& out = process_.out();
    size_t echoed = out.find("from argument\n");
    size_t welcome = out.find("Welcome to Tandrel");
    ASSERT_NE(echoed, std::string::npos) << out;
    ASSERT_NE(welcome, std::string::npos) << out;
    EXPECT_LT(echoed, welcome);
    // "who" is a wait of 0, never the command word.
    size_t waits = 0;
    for (size_t at = out.find("Waiting 0\n"); at != std::string::npos; at = out.find("Waiting 0\n", at + 1)) ++waits;
    EXPECT_EQ(waits, 3u) << out;
    // A negative count waits nothing.
    EXPECT_NE(out.find("Waiting -5\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Unrecognized"), std::string::npos) << out;
}

TEST_F(TandrelTest, WaitArgumentWaits) {
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(runWith({"w2", "echo after"}, ""), 0);
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, std::chrono::seconds(2));
    EXPECT_NE(process_.err().find("Waiting 2\n"), std::string::npos);
    EXPECT_NE(process_.out().find("after\n"), std::string::npos);
}
