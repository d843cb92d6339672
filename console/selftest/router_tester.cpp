#include "console/selftest/router_tester.h"

#include <string>

#include "console/selftest/overlay_probe.h"
#include "core/ui/ui_gateway.h"
#include "overlay/index/service_search.h"
#include "overlay/routing/node.h"
#include "v4ada/digest/md4.h"
#include "v4ada/memory/malloc4.h"

RouterTester::RouterTester(OverlayProbe& probe, const char* text, int port1, int port2)
    : probe_(probe), port1_(port1), port2_(port2) {
    md4String(key_.bytes(), text);
    if (UIGateway* ui = currentUI()) {
        char* hex = key_.toHex();
        ui->print("router test will search for %s", hex);
        i4_free(hex);
    }
}

bool RouterTester::tick(int elapsedMs) {
    if (finished_) return false;
    elapsed_ += elapsedMs;
    if (elapsed_ <= kPeriodMs) return false;
    elapsed_ = 0;
    if (index_ == kSearches - 1) {
        finished_ = true;
        dump();
        return false;
    }
    index_++;
    counts_[index_] = 0;
    probe_.startSearch(new ServiceSearch(key_), this);
    return false;
}

void RouterTester::searchEnd(ServiceSearch* search, Node* node, int next, int total) {
    if (finished_ || index_ < 0 || search == nullptr || node == nullptr) return;
    if (UIGateway* ui = currentUI()) {
        char* hex = search->key.toHex();
        ui->log("service: %s\tresult: (%d,%d)\tdest: [%d:%d]", hex, next, total, static_cast<int32_t>(node->ip),
                node->port);
        i4_free(hex);
    }
    if ((node->port == port1_ || node->port == port2_) && counts_[index_] < UINT16_MAX) counts_[index_]++;
}

void RouterTester::dump() {
    std::string text = "router dump";
    for (int i = 0; i <= index_; i++) text += ", " + std::to_string(counts_[i]);
    if (UIGateway* ui = currentUI()) ui->log("%s", text.c_str());
}
