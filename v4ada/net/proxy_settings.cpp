#include "v4ada/net/proxy_settings.h"

#include <cstring>

#include "v4ada/memory/malloc4.h"
#include "v4ada/net/address.h"
#include "v4ada/string/cstring.h"

ProxySettings::~ProxySettings() {
    i4_free(host_);
    i4_free(user_);
    i4_free(password_);
    delete proxyAddress_;
}

ProxySettings* ProxySettings::makeDefault() { return new ProxySettings(); }

ProxySettings* ProxySettings::clone() const {
    auto* copy = new ProxySettings();
    copy->type = type;
    copy->port = port;
    copy->setHost(host_);
    copy->setUser(user_);
    copy->setPassword(password_);
    if (proxyAddress_ != nullptr) copy->proxyAddress_ = static_cast<i4_tcpip_address*>(proxyAddress_->clone());
    return copy;
}

bool ProxySettings::equals(const ProxySettings* other) const {
    if (other == nullptr || type == kProxyNone) return type == kProxyNone && (other == nullptr || other->type == kProxyNone);
    return port == other->port && i4_strcmp(host_, other->host_) == 0 && i4_strcmp(user_, other->user_) == 0 &&
           i4_strcmp(password_, other->password_) == 0 && type == other->type;
}

void ProxySettings::setHost(const char* text) {
    i4_free(host_);
    host_ = i4_strdup(text);
}

void ProxySettings::setUser(const char* text) {
    i4_free(user_);
    user_ = i4_strdup(text);
}

void ProxySettings::setPassword(const char* text) {
    i4_free(password_);
    password_ = i4_strdup(text);
}

void ProxySettings::setProxyAddress(i4_tcpip_address* address) {
    delete proxyAddress_;
    proxyAddress_ = address;
}
