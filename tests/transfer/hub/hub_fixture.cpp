#include "transfer/hub/hub_fixture.h"

#include "core/options/core_options.h"
#include "core/ui/transfer_ui.h"
#include "overlay/gateway/network_gateway.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/peer_door.h"
#include "v4ada/threads/linux/threads.h"

void HubTest::SetUp() {
    ASSERT_TRUE(dir_.ok());
    using support::ProcessObjects;
    process_.emplace(ProcessObjects::kSpecialTags | ProcessObjects::kCoreOptions | ProcessObjects::kClientPool |
                     ProcessObjects::kTransferOptions);
    coreOptions()->loadFrom(dir_.path().c_str());
    transferOptions()->load();
    setNetworkGateway(&overlay_);
    setCurrentTransferUI(&ui_);
    hub_ = std::make_unique<TransferGateway>([this](IndexedFileList* known, ShareList* shares) {
        auto thread = std::make_unique<SteppedHashThread>(known, shares);
        thread_ = thread.get();
        return thread;
    });
    downloads_.hub = hub_.get();
    output_.clear();
}

void HubTest::TearDown() {
    hub_.reset();
    closePeerDoor();
    setCurrentTransferUI(nullptr);
    setNetworkGateway(nullptr);
    process_.reset();
}

FileMeta* HubTest::record(const char* name, uint32_t size, uint8_t hash, const std::string& path) {
    auto* out = new FileMeta();
    out->setName(name);
    out->setSize(size);
    out->setFileHash(support::hashOf(hash));
    out->setPath(path.c_str());
    return out;
}

std::vector<std::string> HubTest::namesIn(const char* directory) {
    std::vector<std::string> names;
    FileList* files = hub_->directoryFiles(directory);
    if (!files) return names;
    LLsafeGuard hold(files->list());
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(files->list(), &cursor)) names.emplace_back(static_cast<FileMeta*>(element)->name());
    return names;
}
