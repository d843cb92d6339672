#include "support/process_objects.h"

#include <iterator>

#include "console/remote/admin_settings.h"
#include "core/bus/message_q.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/startup/core_thread.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/sources/source_list.h"
#include "transfer/friends/friend_list.h"
#include "transfer/hub/transfer_gateway.h"
#include "transfer/media/import_master.h"
#include "transfer/messages/message_pool.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/uploads/upload_pool.h"

namespace support {

namespace {

struct Step {
    unsigned object;
    void (*make)();
    void (*destroy)();
};

constexpr Step kSteps[] = {
    {ProcessObjects::kStringTable, XMLStringTable::createInstance, XMLStringTable::destroyInstance},
    {ProcessObjects::kSpecialTags, initSpecialTags, resetSpecialTags},
    {ProcessObjects::kBus, message_bus_create, message_bus_destroy},
    {ProcessObjects::kCoreOptions, CoreOptions::createInstance, CoreOptions::destroyInstance},
    {ProcessObjects::kAdminSettings, AdminSettings::createInstance, AdminSettings::destroyInstance},
    {ProcessObjects::kClientPool, ClientPool::createInstance, ClientPool::destroyInstance},
    {ProcessObjects::kSourceList, SourceList::createInstance, SourceList::destroyInstance},
    {ProcessObjects::kUploadPool, UploadPool::createInstance, UploadPool::destroyInstance},
    {ProcessObjects::kFriendList, FriendList::createInstance, FriendList::destroyInstance},
    {ProcessObjects::kMessagePool, MessagePool::createInstance, MessagePool::destroyInstance},
    {ProcessObjects::kPartnerManager, PartnerManager::createInstance, PartnerManager::destroyInstance},
    {ProcessObjects::kDownloadPool, DLPool::createInstance, DLPool::destroyInstance},
    {ProcessObjects::kTransferOptions, TransferOptions::createInstance, TransferOptions::destroyInstance},
    {ProcessObjects::kImportMaster, ImportMaster::createInstance, ImportMaster::destroyInstance},
    {ProcessObjects::kTransferGateway, TransferGateway::createInstance, TransferGateway::destroyInstance},
    {ProcessObjects::kCoreThread, CoreThread::createInstance, CoreThread::destroyInstance},
};

}  // namespace

ProcessObjects::ProcessObjects(unsigned objects) : objects_(objects) {
    for (const Step& step : kSteps)
        if (objects_ & step.object) step.make();
}

ProcessObjects::~ProcessObjects() {
    for (auto step = std::rbegin(kSteps); step != std::rend(kSteps); ++step)
        if (objects_ & step->object) step->destroy();
}

}  // namespace support
