#include "console/cli/console_line_reader.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

namespace {

using Result = ConsoleLineReader::Result;

bool always(void*) { return true; }
bool never(void*) { return false; }
// True as long as the counter it is given stays above 0, counting down.
bool countdown(void* counter) { return (*static_cast<int*>(counter))-- > 0; }

// A reader over a pipe holding the given bytes, its write end closed when
// `ended` is set.
class PipeInput {
public:
    PipeInput(const std::string& bytes, bool ended) {
        EXPECT_EQ(pipe(fds_), 0);
        EXPECT_EQ(write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        if (ended) closeWrite();
    }
    ~PipeInput() {
        closeWrite();
        close(fds_[0]);
    }
    void closeWrite() {
        if (fds_[1] >= 0) close(fds_[1]);
        fds_[1] = -1;
    }
    int fd() const { return fds_[0]; }

private:
    int fds_[2] = {-1, -1};
};

}  // namespace

TEST(ConsoleLineReader, SplitsWholeLines) {
    PipeInput input("one\r\ntwo words\n\nlast", true);
    ConsoleLineReader reader(input.fd());
    std::string line;
    const std::vector<std::string> expected = {"one", "two words", "", "last"};
    for (const std::string& want : expected) {
        ASSERT_EQ(reader.readLine(line, always, nullptr), Result::kLine);
        EXPECT_EQ(line, want);
    }
    EXPECT_EQ(reader.readLine(line, always, nullptr), Result::kEnd);
    EXPECT_EQ(reader.readLine(line, always, nullptr), Result::kEnd);
}

TEST(ConsoleLineReader, RefusesAnOverlongLineWhole) {
    // Past the bound in one line, exactly at the bound, and an overlong
    // line cut by the end of input.
    std::string input = std::string(20, 'a') + "\n" + std::string(16, 'b') + "\nnext\n" + std::string(40, 'c');
    PipeInput pipeInput(input, true);
    ConsoleLineReader reader(pipeInput.fd(), 16);
    std::string line;
    EXPECT_EQ(reader.readLine(line, always, nullptr), Result::kTooLong);
    ASSERT_EQ(reader.readLine(line, always, nullptr), Result::kLine);
    EXPECT_EQ(line, std::string(16, 'b'));
    ASSERT_EQ(reader.readLine(line, always, nullptr), Result::kLine);
    EXPECT_EQ(line, "next");
    EXPECT_EQ(reader.readLine(line, always, nullptr), Result::kTooLong);
    EXPECT_EQ(reader.readLine(line, always, nullptr), Result::kEnd);
}

TEST(ConsoleLineReader, RefusesALineLongerThanOneReadChunk) {
    std::string huge(ConsoleLineReader::kChunk * 3, 'z');
    PipeInput input(huge + "\nok\n", true);
    ConsoleLineReader reader(input.fd(), ConsoleLineReader::kChunk);
    std::string line;
    EXPECT_EQ(reader.readLine(line, always, nullptr), Result::kTooLong);
    ASSERT_EQ(reader.readLine(line, always, nullptr), Result::kLine);
    EXPECT_EQ(line, "ok");
}

TEST(ConsoleLineReader, StopsWaitingWhenAskedAndKeepsPartialInput) {
    PipeInput input("par", false);
    ConsoleLineReader reader(input.fd());
    std::string line;
    int waits = 1;
    EXPECT_EQ(reader.readLine(line, countdown, &waits), Result::kStopped);
    EXPECT_EQ(reader.readKey(never, nullptr), 'p');  // buffered bytes come first
    input.closeWrite();
    ASSERT_EQ(reader.readLine(line, always, nullptr), Result::kLine);
    EXPECT_EQ(line, "ar");
    EXPECT_EQ(reader.readKey(always, nullptr), -1);
}

TEST(ConsoleLineReader, KeysComeOneByOne) {
    PipeInput input(" q", true);
    ConsoleLineReader reader(input.fd());
    EXPECT_FALSE(reader.isTerminal());
    EXPECT_EQ(reader.readKey(always, nullptr), ' ');
    EXPECT_EQ(reader.readKey(always, nullptr), 'q');
    EXPECT_EQ(reader.readKey(always, nullptr), -1);
}

TEST(ConsoleLineReader, KeyOnATerminalRestoresItsSettings) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);

    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);
    ASSERT_TRUE(before.c_lflag & ECHO);

    // No newline follows: only a non-canonical read can return the key.
    ASSERT_EQ(write(master, "k", 1), 1);
    ConsoleLineReader reader(slave);
    EXPECT_TRUE(reader.isTerminal());
    EXPECT_EQ(reader.readKey(always, nullptr), 'k');

    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(memcmp(after.c_cc, before.c_cc, sizeof before.c_cc), 0);

    close(slave);
    close(master);
}
