// TempDirTest: a test fixture with a fresh scratch directory per test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/temp_dir.h"

namespace support {

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()) << "no scratch directory"; }

    std::string pathOf(const std::string& name) const { return dir_ / name; }
    // Writes the bytes to a new file in the directory; returns its path.
    std::string writeFile(const std::string& name, const std::string& data) {
        std::string path = pathOf(name);
        EXPECT_TRUE(write_file(path, data)) << path;
        return path;
    }

    TempDir dir_;
};

}  // namespace support
