#include "downloads/sources/source_fixture.h"

#include "downloads/pool/partner_manager.h"
#include "downloads/sources/connecting_states.h"
#include "downloads/sources/partner_states.h"
#include "downloads/sources/peer_sources.h"
#include "downloads/sources/transfer_states.h"
#include "support/part_digests.h"

namespace sourcetest {

namespace {

constexpr uint32_t kIpP = 0x0A000001;
constexpr uint32_t kIpQ = 0x0A000002;

}  // namespace

void SourceTest::SetUp() {
    clockScope_ = std::make_unique<ScopedClockSource>(&clock_);
    world_ = std::make_unique<support::DownloadWorld>();
    faces_.push_back(std::make_unique<FakeSourcePeer>(&world_->log, "p", kIpP, 4662));
    faces_.push_back(std::make_unique<FakeSourcePeer>(&world_->log, "q", kIpQ, 4662));
    p_ = faces_[0].get();
    q_ = faces_[1].get();
    p_->record.setHelloVerified(1);
    q_->record.setHelloVerified(1);
    world_->peers.add(p_);
    world_->peers.connectTo = q_;
    // The record is made once: hashing the data dominates a fresh world.
    static const std::unique_ptr<FileMeta> record =
        world_->record(support::pattern_bytes(kSize, 7), "s.bin", false);
    world_->pool->startDownload(record.get());
    download_ = world_->pool->findDownload(record->fileHash());
    ASSERT_NE(download_, nullptr);
    world_->hold(download_);
    download_->release();
    ASSERT_EQ(download_->crumbCount(), kCrumbs);
    world_->log.take();
}

void SourceTest::TearDown() {
    // Slots handed on reach the pool, which lets go of their uses; then
    // every source goes. No use of a connection may be left.
    pump();
    download_->detachSources();
    for (auto& face : faces_) EXPECT_EQ(face->uses, 0) << face->name << " keeps uses";
    EXPECT_EQ(weights(), "0 0 0 0") << "every source took its weights along";
    world_.reset();
    faces_.clear();
    clockScope_.reset();
}

FileSource* SourceTest::connected() {
    auto* source = new FileSource(p_->record, download_, nullptr);
    download_->sources()->append(source);
    return source;
}

FileSource* SourceTest::unconnected() {
    auto* source = new FileSource(q_->record, download_, nullptr);
    download_->sources()->append(source);
    return source;
}

FileSource* SourceTest::another(const std::string& name, uint32_t ip) {
    faces_.push_back(std::make_unique<FakeSourcePeer>(&world_->log, name, ip, 4662));
    FakeSourcePeer* face = faces_.back().get();
    face->record.setHelloVerified(1);
    world_->peers.add(face);
    auto* source = new FileSource(face->record, download_, nullptr);
    download_->sources()->append(source);
    return source;
}

std::unique_ptr<BoolArray> SourceTest::map(const std::string& bits) {
    auto out = std::make_unique<BoolArray>(static_cast<unsigned>(bits.size()));
    for (size_t i = 0; i < bits.size(); i++) out->set(static_cast<unsigned>(i), bits[i] == '1');
    return out;
}

void SourceTest::status(FileSource* source, const std::string& bits) {
    std::unique_ptr<BoolArray> m = map(bits);
    source->fileStatus(source->connection(), m.get());
}

std::string SourceTest::stateOf(FileSource* source) {
    FileSourceState* s = source->state();
    if (dynamic_cast<FSS_TestPartner*>(s)) return "FSS_TestPartner";
    if (dynamic_cast<FSS_Partner*>(s)) return "FSS_Partner";
    if (dynamic_cast<FSS_TransferingAskingPartner*>(s)) return "FSS_TransferingAskingPartner";
    if (dynamic_cast<FSS_Transfering*>(s)) return "FSS_Transfering";
    if (dynamic_cast<FSS_AskingPartner*>(s)) return "FSS_AskingPartner";
    if (dynamic_cast<FSS_Unasked*>(s)) return "FSS_Unasked";
    if (dynamic_cast<FSS_WaitForConnection*>(s)) return "FSS_WaitForConnection";
    if (dynamic_cast<FSS_WaitForChunksBQ*>(s)) return "FSS_WaitForChunksBQ";
    if (dynamic_cast<FSS_OnQueue*>(s)) return "FSS_OnQueue";
    if (dynamic_cast<FSS_WaitForChunks*>(s)) return "FSS_WaitForChunks";
    if (dynamic_cast<FSS_NoNeededParts*>(s)) return "FSS_NoNeededParts";
    if (dynamic_cast<FSS_Gone*>(s)) return "FSS_Gone";
    if (dynamic_cast<FSS_BadSource*>(s)) return "FSS_BadSource";
    return "?";
}

std::vector<std::string> SourceTest::sends() {
    std::vector<std::string> out;
    for (const std::string& line : world_->log.take()) {
        if (line.find(" addRef ") != std::string::npos || line.find(" release ") != std::string::npos) continue;
        // The partner table's dealings with the uploads.
        if (line.rfind("removePriorityUser ", 0) == 0) continue;
        out.push_back(line);
    }
    return out;
}

std::string SourceTest::weights() {
    DLProgress* progress = download_->progress();
    std::string out;
    for (uint32_t i = 0; i < progress->crumbCount(); i++) {
        if (i) out += ' ';
        out += std::to_string(progress->weight(i));
    }
    return out;
}

void SourceTest::remove(FileSource* source) {
    download_->sources()->remove(source);
    if (PartnerManager* partners = PartnerManager::instance()) partners->removePartner(source);
    delete source;
}

}  // namespace sourcetest
