// ProcessObjects: the process-wide objects a test needs (the special tag
// table, the message bus, the options and the pools start-up makes), made
// in start-up order and destroyed in reverse when it goes.
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
        kSpecialTags = 1u << 0,
        kBus = 1u << 1,  // messageQ
        kCoreOptions = 1u << 2,
        kAdminSettings = 1u << 3,
        kClientPool = 1u << 4,
        kUploadPool = 1u << 5,
        kFriendList = 1u << 6,
        kTransferOptions = 1u << 7,
        kTransferGateway = 1u << 8,
        kCoreThread = 1u << 9,
    };

    explicit ProcessObjects(unsigned objects);
    ~ProcessObjects();
    ProcessObjects(const ProcessObjects&) = delete;
    ProcessObjects& operator=(const ProcessObjects&) = delete;

private:
    unsigned objects_;
};

}  // namespace support
