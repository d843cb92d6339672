#include "v4ada/console/console_input.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

// Feeds the console reads from a pipe holding the given bytes.
class PipeInput {
public:
    explicit PipeInput(const std::string& bytes) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fds[1]);
        stream_ = fdopen(fds[0], "r");
        console_set_input(stream_);
    }
    ~PipeInput() {
        console_set_input(nullptr);
        fclose(stream_);
    }

private:
    FILE* stream_;
};

std::string read_line(int n, bool* got = nullptr) {
    char buffer[512];
    memset(buffer, '?', sizeof buffer);
    console_reset_input();
    bool ok = console_read_line(buffer, n);
    if (got) *got = ok;
    return buffer;
}

std::string pattern(int length) {
    std::string s;
    for (int i = 0; i < length; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

TEST(ConsoleInputTest, LongLineArrivesInPiecesOfTheBufferSize) {
    const std::string line = pattern(300);
    PipeInput input(line + "\nnext\n");
    EXPECT_EQ(read_line(255), line.substr(0, 254));
    EXPECT_EQ(read_line(255), line.substr(254));
    EXPECT_EQ(read_line(255), "next");
    bool got = true;
    EXPECT_EQ(read_line(255, &got), "");
    EXPECT_FALSE(got);
}

TEST(ConsoleInputTest, LineFillingTheBufferExactlyIsOneRead) {
    const std::string line = pattern(254);
    PipeInput input(line + "\n\nlast");
    EXPECT_EQ(read_line(255), line);
    bool got = false;
    EXPECT_EQ(read_line(255, &got), "");  // the empty line that follows
    EXPECT_TRUE(got);
    EXPECT_EQ(read_line(82, &got), "last");  // no newline before the end
    EXPECT_TRUE(got);
}

TEST(ConsoleInputTest, ReadKeyFromAPipeTakesOneCharacter) {
    PipeInput input("yz");
    EXPECT_EQ(read_key(), 'y');
    EXPECT_EQ(read_key(), 'z');
    EXPECT_EQ(read_key(), EOF);
}

TEST(ConsoleInputTest, ReadKeyOnATerminalRestoresItsSettings) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    FILE* stream = fdopen(slave, "r");
    ASSERT_NE(stream, nullptr);

    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);
    ASSERT_TRUE(before.c_lflag & ECHO);

    // No newline follows: only a non-canonical read can return the key.
    ASSERT_EQ(write(master, "k", 1), 1);
    console_set_input(stream);
    int key = read_key();
    console_set_input(nullptr);
    EXPECT_EQ(key, 'k');

    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(memcmp(after.c_cc, before.c_cc, sizeof before.c_cc), 0);

    fclose(stream);
    close(master);
}

}  // namespace
