// Drives the peer sources of one download through random events: sources
// made and deleted, connections arriving and closing, maps, notices,
// connects with every result, slots opened and ended, ranks, data, ticks
// of every length, the download's commands and the partner events. Each
// byte picks an event, the following ones its arguments.
//
// After every event: each crumb's weight in the range chooser is exactly
// the sum of the weights of the sources that have it (so never negative),
// every free range lies in the file's gaps, and no outstanding request
// overlaps a free range or another request. Once every source is deleted:
// every weight is 0, every missing byte is free again (no range lost), no
// connection keeps a use and nothing counts as transferring.
//
// One download of eight crumbs lives for the whole run; after each input
// its gaps are made whole again and its chooser rebuilt.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/bus/message_q.h"
#include "core/meta/user_meta.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/pool/downloading_state.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/sources/file_source.h"
#include "downloads/sources/file_source_state.h"
#include "downloads/sources/source_list.h"
#include "support/download_world.h"
#include "support/memory_files.h"
#include "support/part_digests.h"
#include "v4ada/file/debug_file.h"

namespace {

constexpr uint32_t kCrumbs = 8;
constexpr uint64_t kSize = kCrumbs * 486400ULL - 1000;
constexpr int kFaces = 4;
constexpr size_t kMaxSources = 6;
constexpr int kTicks[] = {1, 999, 60001, 240001, 360001, 900001, 1200001, 43200001};

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "source_events: %s\n", what);
    __builtin_trap();
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t below(uint32_t n) { return n ? byte() % n : 0; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// The bus handler of MSG_OPEN_SLOT: a slot handed on reaches the pool
// while the connection lives; one whose connection closed meanwhile goes
// nowhere (its uses went with the connection).
class SlotHandler : public MessageHandler {
public:
    void handle(Message* message) override;
};

struct World {
    support::DownloadWorld downloads;
    std::vector<std::unique_ptr<support::FakeSourcePeer>> faces;
    std::vector<bool> listed;
    Download* download = nullptr;
    SlotHandler slots;
    std::vector<FileSource*> sources;

    World() {
        set_debug_output(nullptr);
        for (int i = 0; i < kFaces; i++) {
            faces.push_back(std::make_unique<support::FakeSourcePeer>(&downloads.log, "f" + std::to_string(i),
                                                                      0x0A000001u + i, 4662));
            uint8_t hash[16];
            std::fill(std::begin(hash), std::end(hash), static_cast<uint8_t>(i + 1));
            UniqueID id;
            id.copy(hash);
            faces.back()->record.setUserHash(id);
        }
        listed.assign(kFaces, false);
        downloads.peers.peers.clear();
        std::unique_ptr<FileMeta> record = downloads.record(support::pattern_bytes(kSize, 5), "fuzz.bin", false);
        downloads.pool->startDownload(record.get());
        download = downloads.pool->findDownload(record->fileHash());
        if (download == nullptr) fail("no download");
        downloads.hold(download);
        download->release();
        download->lock();
        download->setState(new DLS_Downloading(download));
        download->unlock();
        downloads.partners->setHighest(download);
        messageQ->setHandler(&slots, MSG_OPEN_SLOT);
    }

    support::FakeSourcePeer* face(int i) { return faces[static_cast<size_t>(i)].get(); }
    int faceOf(TCPConnection* connection) {
        for (int i = 0; i < kFaces; i++)
            if (face(i)->tcpConnection() == connection) return i;
        return -1;
    }

    void list(int i, bool on) {
        std::vector<support::FakeSourcePeer*>& peers = downloads.peers.peers;
        peers.erase(std::remove(peers.begin(), peers.end(), face(i)), peers.end());
        if (on) downloads.peers.add(face(i));
        listed[static_cast<size_t>(i)] = on;
    }

    void remove(FileSource* source) {
        download->sources()->remove(source);
        sources.erase(std::find(sources.begin(), sources.end(), source));
        PartnerManager::instance()->removePartner(source);
        delete source;
    }

    void pump() {
        while (messageQ->tick(0)) {
        }
    }

    void check();
    void checkEmpty();
    void reset();
};

World* world = nullptr;

void SlotHandler::handle(Message* message) {
    auto* connection = static_cast<TCPConnection*>(message->data);
    int i = world->faceOf(connection);
    if (i < 0) fail("slot of an unknown connection");
    if (world->listed[static_cast<size_t>(i)]) world->downloads.pool->openSlot(connection);
}

bool overlap(const Gap& a, const Gap& b) { return a.start < b.end && b.start < a.end; }

void World::check() {
    DLProgress* progress = download->progress();
    PartialFile* partial = download->partialFile();
    std::vector<Gap> gaps;
    for (uint32_t c = 0; c < progress->crumbCount(); c++) {
        const CrumbEntry& entry = progress->entry(c);
        if (entry.weight == CrumbEntry::kComplete) continue;
        int64_t expected = 0;
        for (FileSource* source : sources) {
            if (source->partMap()->get(c)) expected += source->state()->weight();
        }
        if (entry.weight != expected) fail("a weight is not the sum of its sources' weights");
        for (const Gap& range : entry.ranges) {
            gaps.clear();
            partial->gapsIn(range.start, range.end, gaps);
            if (gaps.size() != 1 || gaps[0].start != range.start || gaps[0].end != range.end)
                fail("a free range outside the gaps");
        }
    }
    std::vector<Gap> requests;
    for (FileSource* source : sources) {
        for (int i = 0; i < FileSource::kRequestSlots; i++) {
            if (source->requestEnd(i) == 0) continue;
            Gap request{source->requestStart(i), source->requestEnd(i)};
            if (request.start >= request.end || request.end > kSize) fail("a request outside the file");
            for (const Gap& other : requests)
                if (overlap(request, other)) fail("two requests overlap");
            requests.push_back(request);
            uint32_t first = static_cast<uint32_t>(request.start / 486400);
            uint32_t last = static_cast<uint32_t>((request.end - 1) / 486400);
            for (uint32_t c = first; c <= last; c++) {
                for (const Gap& range : progress->entry(c).ranges)
                    if (overlap(request, range)) fail("a requested range is also free");
            }
        }
    }
}

void World::checkEmpty() {
    DLProgress* progress = download->progress();
    PartialFile* partial = download->partialFile();
    std::vector<Gap> gaps;
    for (uint32_t c = 0; c < progress->crumbCount(); c++) {
        const CrumbEntry& entry = progress->entry(c);
        if (entry.weight != 0) fail("a weight left without sources");
        // The free ranges, merged, are exactly the crumb's gaps.
        gaps.clear();
        uint64_t start = c * 486400ULL;
        partial->gapsIn(start, std::min(start + 486400, kSize), gaps);
        std::vector<Gap> merged;
        for (const Gap& range : entry.ranges) {
            if (!merged.empty() && merged.back().end == range.start) {
                merged.back().end = range.end;
            } else {
                merged.push_back(range);
            }
        }
        if (merged.size() != gaps.size()) fail("missing bytes are not free again");
        for (size_t i = 0; i < gaps.size(); i++)
            if (!(merged[i] == gaps[i])) fail("missing bytes are not free again");
    }
    for (int i = 0; i < kFaces; i++)
        if (face(i)->uses != 0) fail("a connection keeps a use");
    if (downloads.pool->transferring() != 0) fail("a source still counts as transferring");
    for (int i = 0; i < PartnerManager::kSlots; i++)
        if (PartnerManager::instance()->slot(i) != nullptr) fail("a partner slot is left");
}

void World::reset() {
    for (int i = 0; i < kFaces; i++) {
        list(i, false);
        support::FakeSourcePeer* f = face(i);
        f->pr = 1;
        f->average = 0.0;
        f->statusAnswer = true;
        f->keep = false;
        f->record.setHelloVerified(0);
    }
    downloads.peers.connectResult = SourcePeerPool::kConnecting;
    downloads.peers.connections = 0;
    SourceList::destroyInstance();
    SourceList::createInstance();
    PartialFile* partial = download->partialFile();
    partial->gapList().addGap(0, kSize);
    download->progress()->init(partial);
    downloads.log.take();
    downloads.ui.clear();
}

// What the pool's connect will answer for the source's user: a listed
// connection is that user's own.
void arrangeConnect(Input& in, FileSource* source) {
    World& w = *world;
    int result = static_cast<int>(in.below(5));
    int f = 0;
    for (int i = 0; i < kFaces; i++)
        if (source && source->isUser(&w.face(i)->record)) f = i;
    if (result == SourcePeerPool::kConnected && !w.listed[static_cast<size_t>(f)]) result = SourcePeerPool::kConnecting;
    w.downloads.peers.connectResult = result;
    w.downloads.peers.connectTo = w.face(f);
    w.downloads.peers.connections = in.below(4) == 0 ? 100 : 0;
}

FileSource* pick(Input& in) {
    if (world->sources.empty()) return nullptr;
    return world->sources[in.below(static_cast<uint32_t>(world->sources.size()))];
}

void event(Input& in) {
    World& w = *world;
    Download* download = w.download;
    switch (in.below(20)) {
        case 0: {  // a new source of one of the users
            if (w.sources.size() >= kMaxSources) return;
            int u = static_cast<int>(in.below(kFaces));
            for (FileSource* s : w.sources)
                if (s->isUser(&w.face(u)->record)) return;
            SourcePeer* given = in.byte() & 1 && w.listed[static_cast<size_t>(u)] ? w.face(u) : nullptr;
            auto* source = new FileSource(w.face(u)->record, download, given);
            download->sources()->append(source);
            w.sources.push_back(source);
            return;
        }
        case 1:
            if (FileSource* s = pick(in)) w.remove(s);
            return;
        case 2: {  // a crumb map, sometimes of another size
            FileSource* s = pick(in);
            int f = static_cast<int>(in.below(kFaces));
            unsigned count = in.below(8) == 0 ? in.below(2 * kCrumbs) : kCrumbs;
            BoolArray map(count);
            uint8_t bits = in.byte();
            for (unsigned i = 0; i < count; i++) map.set(i, bits >> (i % 8) & 1);
            if (s) s->fileStatus(in.byte() & 1 ? s->connection() : w.face(f), &map);
            return;
        }
        case 3: {
            FileSource* s = pick(in);
            uint32_t crumb = in.below(kCrumbs + 2);
            if (s) download->haveNotice(s->connection() ? s->connection() : w.face(0), crumb);
            return;
        }
        case 4: {  // a connection of a user completes its hello
            int f = static_cast<int>(in.below(kFaces));
            // Messages about the user's last connection are handled first:
            // the new one has the same face.
            if (!w.listed[static_cast<size_t>(f)]) w.pump();
            w.list(f, true);
            download->newPeer(w.face(f));
            return;
        }
        case 5: {  // a connection closes
            int f = static_cast<int>(in.below(kFaces));
            if (!w.listed[static_cast<size_t>(f)]) return;
            w.list(f, false);
            download->peerClosed(w.face(f));
            // The connection is gone, and its uses with it: nobody may take
            // or drop one any more.
            w.face(f)->uses = 0;
            return;
        }
        case 6: {  // the download asks a source to start
            FileSource* s = pick(in);
            arrangeConnect(in, s);
            if (s) s->tryAsk();
            return;
        }
        case 7: {  // ICLT_SLOT_OPEN
            int f = static_cast<int>(in.below(kFaces));
            if (!w.listed[static_cast<size_t>(f)]) return;
            w.face(f)->addRef("ICLT_SLOT_OPEN");
            w.downloads.pool->openSlot(w.face(f)->tcpConnection());
            return;
        }
        case 8: {
            int f = static_cast<int>(in.below(kFaces));
            if (w.listed[static_cast<size_t>(f)]) w.downloads.pool->uploadEnded(w.face(f)->tcpConnection());
            return;
        }
        case 9: {
            int f = static_cast<int>(in.below(kFaces));
            uint32_t rank = in.byte();
            if (w.listed[static_cast<size_t>(f)]) w.downloads.pool->placeInQueue(w.face(f)->tcpConnection(), rank);
            return;
        }
        case 10: {
            int f = static_cast<int>(in.below(kFaces));
            download->noFile(w.face(f));
            return;
        }
        case 11: {  // data on a connection: part of a request, or anywhere
            int f = static_cast<int>(in.below(kFaces));
            uint64_t start = in.below(kCrumbs) * 486400ULL + in.byte() * 1000ULL;
            uint64_t length = 1 + in.byte() * 977ULL;
            for (FileSource* s : w.sources) {
                if (s->connection() != w.face(f) || s->requestEnd(0) == 0 || in.byte() & 1) continue;
                start = s->requestStart(0);
                length = s->requestEnd(0) - start;
                break;
            }
            // The file is never completed: its last byte stays missing.
            uint64_t end = std::min(start + length, kSize - 1);
            if (start >= end) return;
            support::Bytes message = support::cat({support::le32(static_cast<uint32_t>(start)),
                                                   support::le32(static_cast<uint32_t>(end)),
                                                   support::Bytes(end - start, 0x33)});
            support::ByteReader reader(message);
            download->dataReceived(reader.file(), w.face(f));
            return;
        }
        case 12: {  // time passes: as the download's tick
            int ms = kTicks[in.below(sizeof kTicks / sizeof kTicks[0])];
            for (FileSource* s : std::vector<FileSource*>(w.sources)) {
                if (!s->tick(ms)) w.remove(s);
            }
            return;
        }
        case 13: {  // the download's commands reach every source
            uint32_t what = in.below(6);
            for (FileSource* s : std::vector<FileSource*>(w.sources)) {
                switch (what) {
                    case 0: s->pause(); break;
                    case 1: s->cancel(); break;
                    case 2: s->diskFull(); break;
                    case 3: s->shutdown(); break;
                    case 4: s->downloadComplete(); break;
                    default: s->resetRetries(); break;
                }
            }
            return;
        }
        case 14: {  // partners
            FileSource* s = pick(in);
            int f = static_cast<int>(in.below(kFaces));
            uint32_t what = in.below(5);
            arrangeConnect(in, s);
            if (what == 0 && s && s->partnerScore() > 0) s->tryPartner();
            if (what == 1 && s) s->stopPartner();
            if (what == 2) download->partnerAccepted(w.face(f));
            if (what == 3) download->partnerRefused(w.face(f));
            if (what == 4 && s) s->partnerRequested(w.face(f));
            return;
        }
        case 15: {
            FileSource* s = pick(in);
            int slot = static_cast<int>(in.below(4));
            if (s && slot == 3) s->requestChunks();
            if (s && slot < 3) s->dropRequest(slot);
            return;
        }
        case 16: {
            int f = static_cast<int>(in.below(kFaces));
            download->connectFailed(w.face(f)->record.ip(), in.byte() & 1 ? 4662 : 4663);
            return;
        }
        case 17: {  // what the connection says of its user
            support::FakeSourcePeer* peer = w.face(static_cast<int>(in.below(kFaces)));
            uint8_t b = in.byte();
            peer->pr = b & 1;
            peer->statusAnswer = b & 2;
            peer->record.setHelloVerified(b & 4 ? 1 : 0);
            peer->average = (b >> 3) * 1.7;
            return;
        }
        case 18:
            w.pump();
            return;
        default: {  // the partner step of the highest download
            FileSource* best = nullptr;
            double score = 0.0;
            for (FileSource* s : w.sources) {
                double mine = s->partnerScore();
                if (mine > score) score = mine, best = s;
            }
            arrangeConnect(in, best);
            if (best && PartnerManager::instance()->hasRoom()) best->tryPartner();
            return;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (world == nullptr) world = new World();
    Input in(data, size);
    while (in.more()) {
        event(in);
        world->check();
    }
    while (!world->sources.empty()) world->remove(world->sources.back());
    world->pump();
    world->checkEmpty();
    world->reset();
    return 0;
}
