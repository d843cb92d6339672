// SourcesDispatcher: receives the results of every download-source search
// and turns the location link of each ("loc", location_link.h) into a
// source of the download of the result's serviceId (the file hash),
// handed to the installed source sink (download_source_sink.h). A link of
// the firewalled form becomes a source only while this client is open,
// since it cannot be called back through a buddy otherwise. Without a
// sink, found sources are dropped.
#pragma once

#include "overlay/requests/result_callback.h"

class FlockGateway;

class SourcesDispatcher : public ResultCallback {
public:
    explicit SourcesDispatcher(FlockGateway& gateway) : gateway_(gateway) {}

    void gotResult(Service* result) override;
    void searchEnd(ServiceSearch*, Node*, int, int) override {}

private:
    FlockGateway& gateway_;
};
