// AdminSettings: the remote-control settings: the name and password a
// controller must give and the TCP port of the administration door. They
// live in the options record (pref.met) under the keys below.
//
// The settings are read on the main thread (start-up) and on the task
// thread (the second load, the commands, every login), and written on
// both, so every field is kept under the object's own lock.
//
// The process-wide instance is made and destroyed explicitly by start-up
// and shutdown (createInstance / destroyInstance).
#pragma once

#include <cstdint>

#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class CoreOptions;

constexpr const char* kOptAdminDoorPort = "adminDoorPort";  // int
constexpr const char* kOptAdminName = "adminName";          // string
constexpr const char* kOptAdminPass = "adminPass";          // string
constexpr int kDefaultAdminDoorPort = 4663;

class AdminSettings {
public:
    AdminSettings() = default;
    AdminSettings(const AdminSettings&) = delete;
    AdminSettings& operator=(const AdminSettings&) = delete;

    static AdminSettings* instance();
    // Keeps an existing instance.
    static void createInstance();
    static void destroyInstance();

    // From the options record: the port (the default when absent or not a
    // port), name and password ("" when absent). Null options: nothing.
    void load(CoreOptions* options);
    // Into the options record, replacing or adding the three tags.
    void save(CoreOptions* options);

    int controlPort();
    // 1 to 65535; false (nothing changes) for any other value.
    bool setControlPort(int port);
    OwnedString name();
    OwnedString pass();
    // Both texts at once; a null text counts as "".
    void setLogin(const char* name, const char* pass);
    // True when the name and password equal the settings exactly. An
    // empty name or password refuses every login: remote control is off
    // until both are set.
    bool accepts(const char* name, const char* pass);

    static bool isPort(int port) { return port >= 1 && port <= 65535; }

private:
    SysMutex lock_;
    OwnedString name_ TS_GUARDED_BY(lock_) {""};
    OwnedString pass_ TS_GUARDED_BY(lock_) {""};
    int32_t controlPort_ TS_GUARDED_BY(lock_) = kDefaultAdminDoorPort;
};

inline AdminSettings* adminSettings() { return AdminSettings::instance(); }
