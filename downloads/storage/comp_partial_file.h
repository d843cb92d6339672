// CompPartialFile: the part-directory layout, used for new downloads by
// default. Each download lives in a directory of its own under the
// temporary directory, "<file name>/" (or "<file name>.<k>/" when taken),
// with one file per part, "<n>.<i>.part" (i from 1), and its record
// "<n>.part.met" (version 225, see part_met.h). The record keeps each
// trusted part file's modification time ("%dmod"), so an unchanged part
// is not hashed again after a restart.
//
// The final check joins the parts into the first part's file, hashes all
// of it and moves it to the incoming directory. When the file hash differs,
// the file is cut back into its parts and only the parts whose digests
// differ are fetched again. A step that fails keeps the data (joined where
// it could not be cut back; the next try goes on from there).
#pragma once

#include <utility>
#include <vector>

#include "downloads/storage/partial_file.h"

// Longest directory name taken from a file name, in bytes: room for the
// ".<k>" suffix within a name's 255.
constexpr size_t kPartDirectoryNameMax = 200;

class CompPartialFile : public PartialFile {
public:
    explicit CompPartialFile(PartialFileOwner* owner);

    // Number 1 in a new directory; part files are made at their first
    // write. False when no directory can be made.
    bool create(FileMeta* record) override;
    // The record's path names its directory; missing part files are no
    // error: their data counts as missing once checked.
    bool load(FileMeta* record, uint32_t number) override;
    void cancel() override;
    CompleteResult complete() override;
    OwnedString metPath() const override;
    OwnedString partDirectory() const override { return directory(); }

protected:
    void createParts() override;
    void beforeLoadChecks() override;

private:
    // Parts after the first whose bytes are already joined in the first
    // part's file (an earlier try whose cut-back failed): 0 when none.
    uint32_t joinedParts();
    // Joins the parts after `joined` onto part 1's file. On a failed append
    // the parts appended are cut back, last first, and false is returned.
    bool assemble(const std::string& first, uint32_t joined);
    // Cuts the joined file back into its parts, last first; false when a
    // cut fails (the parts not yet cut stay joined).
    bool splitBack(const std::string& first, uint32_t from);
    // Part files that are missing or shorter than their part, other than
    // the joined ones: the part and the first byte not there.
    std::vector<std::pair<uint32_t, uint64_t>> shortParts(uint32_t joined);
    // A download whose data is wrong and no part can be named: the joined
    // file is set aside (or removed), the parts, the record and the
    // directory go, state 3.
    void endCorrupted(const std::string& first);
    std::string partPath(uint32_t index) const;
};

// The directory name for a file name: made safe ('/' to '_', "." to "_",
// ".." to "__"), "_" when empty, cut to kPartDirectoryNameMax bytes.
OwnedString partDirectoryName(const char* fileName);

// Moves a record of the older flat form of this layout (version 225, part
// files beside it in the temporary directory) into a directory of its own:
// "<temp>/<name>", or "<temp>/<name><k>" when taken; the part files first,
// the record last, so an interrupted move is finished by the next one. A
// directory that holds no record but part files of this number is such an
// interrupted move and is used again. False, with everything left as it
// was and the reason printed, when no directory can be made.
bool migrateFlatRecord(const char* tempDir, const char* recordName, OwnedString* movedRecord = nullptr);
