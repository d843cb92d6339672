// The proxy through which outgoing TCP connections are made.
#pragma once

class i4_tcpip_address;

enum ProxyType : int {
    kProxyNone = 0,
    kProxySocks4 = 1,
    kProxySocks5 = 2,
    kProxyHttp = 3,
};

class ProxySettings {
public:
    ProxySettings() = default;
    ~ProxySettings();
    ProxySettings(const ProxySettings&) = delete;
    ProxySettings& operator=(const ProxySettings&) = delete;

    static ProxySettings* makeDefault();
    // A heap copy with its own texts and resolved address.
    ProxySettings* clone() const;
    // Two records without a proxy are equal whatever else they hold; a null
    // other counts as no proxy.
    bool equals(const ProxySettings* other) const;

    // Store copies of the texts (null allowed).
    void setHost(const char* text);
    void setUser(const char* text);
    void setPassword(const char* text);
    // Takes ownership of the address (null allowed).
    void setProxyAddress(i4_tcpip_address* address);

    int type = kProxyNone;
    int port = 0;
    const char* host() const { return host_; }
    const char* user() const { return user_; }
    const char* password() const { return password_; }
    i4_tcpip_address* proxyAddress() const { return proxyAddress_; }

private:
    char* host_ = nullptr;
    char* user_ = nullptr;
    char* password_ = nullptr;
    i4_tcpip_address* proxyAddress_ = nullptr;
};
