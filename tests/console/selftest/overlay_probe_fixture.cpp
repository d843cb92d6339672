#include "console/selftest/overlay_probe_fixture.h"

#include "overlay/requests/result_callback.h"
#include "v4ada/containers/hash_table.h"
#include "v4ada/containers/ll.h"
#include "v4ada/memory/malloc4.h"

namespace selftesttest {

void FakeProbe::publish(Service* service) { published.emplace_back(service->serviceId, service->descId); }

void FakeProbe::startSearch(ServiceSearch* search, ResultCallback* callback) {
    searches.push_back(Search{std::unique_ptr<ServiceSearch>(search), callback});
}

int FakeProbe::nearest(const UniqueID&, int n, LL* out) {
    int given = 0;
    for (Node& contact : contacts) {
        if (given == n) break;
        out->append(&contact);
        given++;
    }
    return given;
}

void FakeProbe::visitStored(ElementFunctor* visitor) {
    for (auto& service : stored) visitor->apply(service.get(), nullptr);
}

void FakeProbe::store(const UniqueID& key, const UniqueID& desc) {
    auto service = std::make_unique<Service>();
    service->serviceId = key;
    service->descId = desc;
    stored.push_back(std::move(service));
}

void FakeProbe::answer(const Search& search) {
    Service result;
    result.serviceId = search.search->key;
    result.descId.randomize();
    search.callback->gotResult(&result);
}

UniqueID idWith(std::initializer_list<uint8_t> head) {
    uint8_t bytes[16] = {};
    int i = 0;
    for (uint8_t byte : head) bytes[i++] = byte;
    UniqueID id;
    id.copy(bytes);
    return id;
}

std::string hexOf(const UniqueID& id) {
    char* hex = id.toHex();
    std::string text(hex);
    i4_free(hex);
    return text;
}

}  // namespace selftesttest
