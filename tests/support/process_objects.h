// ProcessObjects: the process-wide objects a test needs (the string and
// special tag tables, the message bus, the options, the pools and the media
// importers start-up makes), made in start-up order and destroyed in
// reverse when it goes.
//
//   support::ProcessObjects process_{support::ProcessObjects::kBus |
//                                    support::ProcessObjects::kCoreOptions};
//
// A fixture that must let them go at a given point of its tear-down holds
// it in a std::optional and resets it there. An object that exists
// already is kept (createInstance keeps it) and destroyed all the same.
#pragma once

namespace support {

class ProcessObjects {
public:
    // In the order start-up makes them.
    enum Object : unsigned {
        kStringTable = 1u << 0,  // the skin's texts
        kSpecialTags = 1u << 1,
        kBus = 1u << 2,  // messageQ
        kCoreOptions = 1u << 3,
        kAdminSettings = 1u << 4,
        kClientPool = 1u << 5,
        kSourceList = 1u << 6,  // users asked for a slot (peer sources)
        kUploadPool = 1u << 7,
        kFriendList = 1u << 8,
        kMessagePool = 1u << 9,
        kPartnerManager = 1u << 10,  // with the download pool
        kDownloadPool = 1u << 11,
        kTransferOptions = 1u << 12,
        kImportMaster = 1u << 13,  // the hub makes it; media tests alone
        kTransferGateway = 1u << 14,
        kCoreThread = 1u << 15,
    };

    explicit ProcessObjects(unsigned objects);
    ~ProcessObjects();
    ProcessObjects(const ProcessObjects&) = delete;
    ProcessObjects& operator=(const ProcessObjects&) = delete;

private:
    unsigned objects_;
};

}  // namespace support
