// A fresh temporary directory per test, removed with its files afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

class TempDirFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes `data` to a new file in the directory; returns its path.
    std::string writeFile(const std::string& name, const std::string& data);
    std::string pathOf(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
};
