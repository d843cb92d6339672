#include "console/remote/admin_settings.h"

#include <cstring>

#include "core/options/core_options.h"

namespace {
AdminSettings* gAdmin = nullptr;
}  // namespace

AdminSettings* AdminSettings::instance() { return gAdmin; }

void AdminSettings::createInstance() {
    if (!gAdmin) gAdmin = new AdminSettings();
}

void AdminSettings::destroyInstance() {
    delete gAdmin;
    gAdmin = nullptr;
}

void AdminSettings::load(CoreOptions* options) {
    if (!options) return;
    int32_t port = kDefaultAdminDoorPort;
    if (!options->getIntOption(kOptAdminDoorPort, &port) || !isPort(port)) port = kDefaultAdminDoorPort;
    OwnedString name = options->getStringOption(kOptAdminName);
    OwnedString pass = options->getStringOption(kOptAdminPass);
    SysMutexGuard guard(&lock_);
    controlPort_ = port;
    name_ = name.c_str() ? name.c_str() : "";
    pass_ = pass.c_str() ? pass.c_str() : "";
}

void AdminSettings::save(CoreOptions* options) {
    if (!options) return;
    int port;
    OwnedString name;
    OwnedString pass;
    {
        SysMutexGuard guard(&lock_);
        port = controlPort_;
        name = name_;
        pass = pass_;
    }
    options->setIntOption(kOptAdminDoorPort, port);
    options->setStringOption(kOptAdminName, name.c_str());
    options->setStringOption(kOptAdminPass, pass.c_str());
}

int AdminSettings::controlPort() {
    SysMutexGuard guard(&lock_);
    return controlPort_;
}

bool AdminSettings::setControlPort(int port) {
    if (!isPort(port)) return false;
    SysMutexGuard guard(&lock_);
    controlPort_ = port;
    return true;
}

OwnedString AdminSettings::name() {
    SysMutexGuard guard(&lock_);
    return name_;
}

OwnedString AdminSettings::pass() {
    SysMutexGuard guard(&lock_);
    return pass_;
}

void AdminSettings::setLogin(const char* name, const char* pass) {
    SysMutexGuard guard(&lock_);
    name_ = name ? name : "";
    pass_ = pass ? pass : "";
}

bool AdminSettings::accepts(const char* name, const char* pass) {
    if (!name || !pass) return false;
    SysMutexGuard guard(&lock_);
    if (name_.isEmpty() || pass_.isEmpty()) return false;
    return strcmp(name, name_.c_str()) == 0 && strcmp(pass, pass_.c_str()) == 0;
}
