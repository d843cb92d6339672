#include "v4ada/digest/temp_dir_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

void TempDirFixture::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tandrel-digest-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
}

void TempDirFixture::TearDown() {
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string TempDirFixture::writeFile(const std::string& name, const std::string& data) {
    std::string path = pathOf(name);
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    EXPECT_TRUE(out.good()) << path;
    return path;
}
