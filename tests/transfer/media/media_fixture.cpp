#include "media_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "transfer/media/import_master.h"

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes zeros(size_t n) { return Bytes(n, 0); }

MemStream::MemStream(const Bytes& bytes) : bytes_(bytes) {
    if (bytes_.empty()) {
        stream_ = tmpfile();
    } else {
        stream_ = fmemopen(bytes_.data(), bytes_.size(), "rb");
    }
    if (stream_ == nullptr) ADD_FAILURE() << "no stream over the bytes";
}

MemStream::~MemStream() {
    if (stream_ != nullptr) fclose(stream_);
}

std::string samplePath(const std::string& name) {
    return std::string(TANDREL_SOURCE_DIR) + "/tests/transfer/media/samples/" + name;
}

const std::map<std::string, std::string>& sampleReference(const std::string& file) {
    static std::map<std::string, std::map<std::string, std::string>> all;
    if (all.empty()) {
        std::ifstream in(samplePath("reference.txt"));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string name, key;
            words >> name >> key;
            std::string value;
            std::getline(words, value);
            if (!value.empty() && value[0] == ' ') value.erase(0, 1);
            all[name][key] = value;
        }
    }
    return all[file];
}

std::vector<std::string> splitReference(const std::string& value, char separator) {
    std::vector<std::string> out;
    std::string piece;
    std::istringstream in(value);
    while (std::getline(in, piece, separator)) out.push_back(piece);
    return out;
}

void ImportTest::SetUp() { ImportMaster::instance()->init(); }

bool ImportTest::importAs(const std::string& path, const std::string& name, Tags* tags) {
    FileMeta meta;
    meta.setPath(path.c_str());
    meta.setName(name.c_str());
    bool ok = ImportMaster::instance()->import(&meta);
    tags->clear();
    for (int i = 0; i < meta.tagCount(); i++) {
        MetaTag* tag = meta.tagAt(i);
        if (tag->specialId() == ST_NAME) continue;
        char value[300] = "";
        tag->valueText(value, sizeof value);
        (*tags)[tag->displayName()] = value;
    }
    return ok;
}

ImportTest::Tags ImportTest::tagsOf(const std::string& path, const std::string& name) {
    Tags tags;
    EXPECT_TRUE(importAs(path, name, &tags)) << name;
    return tags;
}
