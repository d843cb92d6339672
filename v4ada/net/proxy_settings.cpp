#include "v4ada/net/proxy_settings.h"

#include <cstring>

#include "v4ada/net/address.h"

namespace {

char* copy_text(const char* text) {
    if (text == nullptr) return nullptr;
    size_t n = std::strlen(text);
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n + 1);
    return copy;
}

bool same_text(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return a == b;
    return std::strcmp(a, b) == 0;
}

}  // namespace

ProxySettings::~ProxySettings() {
    delete[] host_;
    delete[] user_;
    delete[] password_;
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
    return port == other->port && same_text(host_, other->host_) && same_text(user_, other->user_) &&
           same_text(password_, other->password_) && type == other->type;
}

void ProxySettings::setHost(const char* text) {
    delete[] host_;
    host_ = copy_text(text);
}

void ProxySettings::setUser(const char* text) {
    delete[] user_;
    user_ = copy_text(text);
}

void ProxySettings::setPassword(const char* text) {
    delete[] password_;
    password_ = copy_text(text);
}

void ProxySettings::setProxyAddress(i4_tcpip_address* address) {
    delete proxyAddress_;
    proxyAddress_ = address;
}
