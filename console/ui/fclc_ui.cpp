#include "console/ui/fclc_ui.h"

#include "console/cli/flock_clc.h"
#include "core/meta/meta_list.h"
#include "core/strings/string_table.h"
#include "downloads/pool/dl_pool.h"
#include "overlay/service.h"

void FclcUI::searchResult(Service* result) {
    FlockCLC* client = consoleClient.load();
    if (result == nullptr || client == nullptr || !isNewResult(result, client->results())) return;
    auto copy = new Service();
    copy->assign(*result);
    client->addResult(copy);
}

void FclcUI::searchEnd(ServiceSearch*, Node*, int next, int total) {
    print("%s (%d,%d)", uiText("gotResults", "Got results.").c_str(), next, total);
}

LLsafe* FclcUI::downloadList() {
    DLPool* pool = DLPool::instance();
    return pool ? pool->downloadList() : nullptr;
}

bool FclcUI::isNewResult(Service* record, MetaList* results) {
    if (record == nullptr || results == nullptr) return false;
    // Walked without the interpreter's mutex: every writer and reader of
    // the list runs on the task thread.
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(results->list(), &cursor)) {
        auto entry = static_cast<Service*>(element);
        if (entry->serviceId.equals(record->serviceId) && entry->descId.equals(record->descId)) return false;
    }
    return true;
}
