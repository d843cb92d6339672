#include "overlay/index/sources_dispatcher.h"

#include "core/meta/user_meta.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/index/download_source_sink.h"
#include "overlay/index/location_link.h"
#include "overlay/index/service.h"

void SourcesDispatcher::gotResult(Service* result) {
    LocationLink link;
    if (result == nullptr || !parseLocationLink(result->textOf("loc"), &link)) return;
    UserMeta user;
    if (link.buddyForm) {
        if (gateway_.firewallStatus() != NetworkGateway::kOpen) return;
        user.setUserHash(link.userId);
        user.setBuddyIp(link.ip);
        user.setBuddyPort(static_cast<uint16_t>(link.port));
    } else {
        user.setIp(link.ip);
        user.setPort(static_cast<uint16_t>(link.port));
    }
    if (DownloadSourceSink* sink = downloadSourceSink()) sink->addSource(result->serviceId, &user);
}
