#include "console/ui/fclc_ui.h"

#include "console/cli/flock_clc.h"
#include "core/strings/string_table.h"
#include "downloads/pool/dl_pool.h"
#include "overlay/index/service.h"

void FclcUI::searchResult(Service* result) {
    FlockCLC* client = consoleClient.load();
    if (result == nullptr || client == nullptr || client->holdsResult(*result) ||
        client->resultCount() >= FlockCLC::kMostResults)
        return;
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
