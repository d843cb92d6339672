// PartnerManager: the partner table. Partners are other clients that fetch
// the same file and serve each other without queueing. The table follows
// the one Highest download (set by the pool's rescheduling), keeps at most
// four partner sources (of any download), answers peers that ask to become
// partners, and drops the slowest partner when a better one was tested.
// Partner connections are kept open, and partners are served first by the
// uploads (which ask isPartner).
//
// The table owns nothing. Sources leave it when they are deleted (the
// download removes them before deleting them). One process-wide table,
// made and destroyed explicitly. Task thread only; no lock.
#pragma once

#include <cstdint>

class Download;
class FileSourceInterface;
class SourcePeer;
class UniqueID;

class PartnerManager {
public:
    static constexpr int kSlots = 4;
    // Ranks are speeds in bytes per ms; dropWorst starts below this one.
    static constexpr double kRankCeiling = 10000.0;

    PartnerManager() = default;
    PartnerManager(const PartnerManager&) = delete;
    PartnerManager& operator=(const PartnerManager&) = delete;

    // The process-wide table, or null.
    static PartnerManager* instance();
    // Keeps an existing table.
    static void createInstance();
    static void destroyInstance();

    // The Highest download (not referenced: the pool sets another or null
    // before it lets go of one); the count of its slots is made again.
    void setHighest(Download* download);
    Download* highest() const { return highest_; }
    // Fewer than four slots hold sources of the Highest download.
    bool hasRoom() const { return countOnHighest_ < kSlots; }
    // A peer asks to partner on the file of hash (it is made a source of
    // that download first): true accepts.
    bool acceptPartner(SourcePeer* connection, const UniqueID& hash);
    // At the end of a partner test: whether the source should stay.
    bool wantsPartner(FileSourceInterface* source);
    void addPartner(FileSourceInterface* source);
    void removePartner(FileSourceInterface* source);
    // With four partners on the Highest download, the slowest one goes.
    void dropWorst();
    // The source's speed; -1 (with an error line) for null.
    double getRank(FileSourceInterface* source);
    bool isPartner(SourcePeer* connection);
    // The connection goes away: its partner leaves the table (but stays on
    // the uploads' priority list).
    void peerClosed(SourcePeer* connection);
    // The console listing "vpart".
    void print();

    FileSourceInterface* slot(int index) const { return index >= 0 && index < kSlots ? partners_[index] : nullptr; }
    int countOnHighest() const { return countOnHighest_; }

private:
    bool onHighest(FileSourceInterface* source) const;
    int occupied() const;
    // Frees the slot: keep flag cleared, count lowered.
    FileSourceInterface* freeSlot(int index);
    static void setKeep(FileSourceInterface* source, bool keep);
    static void leavePriorityList(FileSourceInterface* source);

    Download* highest_ = nullptr;
    FileSourceInterface* partners_[kSlots] = {};
    int32_t countOnHighest_ = 0;
};
