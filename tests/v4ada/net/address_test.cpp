#include "v4ada/net/address.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/proxy_settings.h"

namespace {

std::string printed(const i4_printable& item) {
    i4_ram_file_class file(nullptr, 0, 64);
    file.printf("%I", &item);
    std::string out(reinterpret_cast<const char*>(file.data()), file.size());
    i4_free(file.data());
    return out;
}

TEST(TcpipAddress, PrintPortEqualsWriteIpAndClone) {
    const uint8_t ip[4] = {192, 168, 0, 254};
    i4_tcpip_address address(ip, 4662);
    EXPECT_EQ("192.168.0.254", printed(address));
    EXPECT_EQ(4662, address.port());
    EXPECT_EQ(htons(4662), address.socketAddress().sin_port);

    i4_tcpip_address samePlaceOtherPort(ip, 1);
    const uint8_t other[4] = {192, 168, 0, 253};
    i4_tcpip_address otherPlace(other, 4662);
    EXPECT_TRUE(address.equals(&samePlaceOtherPort));
    EXPECT_FALSE(address.equals(&otherPlace));
    EXPECT_FALSE(address.equals(nullptr));

    i4_ram_file_class file(nullptr, 0, 16);
    address.writeIp(&file);
    ASSERT_EQ(4u, file.size());
    EXPECT_EQ(0, memcmp(ip, file.data(), 4));
    i4_free(file.data());

    std::unique_ptr<i4_address> copy(address.clone());
    EXPECT_EQ("192.168.0.254", printed(*copy));
    EXPECT_EQ(4662, copy->port());
}

TEST(ProxyAddress, KeepsTheNameThroughClones) {
    i4_proxy_address named("files.example", 21);
    EXPECT_EQ("files.example", printed(named));
    EXPECT_EQ(21, named.port());
    std::unique_ptr<i4_address> copy(named.clone());
    EXPECT_EQ("files.example", printed(*copy));
    EXPECT_EQ(21, copy->port());
    i4_ram_file_class file(nullptr, 0, 64);
    EXPECT_TRUE(copy->printHostName(&file));
    EXPECT_EQ("files.example", std::string(reinterpret_cast<const char*>(file.data()), file.size()));
    i4_free(file.data());

    // A plain clone of a proxy address drops the name.
    std::unique_ptr<i4_address> plain(named.i4_tcpip_address::clone());
    EXPECT_EQ("0.0.0.0", printed(*plain));
}

TEST(ProxySettingsRecord, EqualsAndClone) {
    ProxySettings none;
    EXPECT_TRUE(none.equals(nullptr));
    ProxySettings http;
    http.type = kProxyHttp;
    http.setHost("proxy.example");
    http.port = 3128;
    http.setUser("u");
    EXPECT_FALSE(http.equals(nullptr));
    EXPECT_FALSE(none.equals(&http));
    EXPECT_FALSE(http.equals(&none));

    std::unique_ptr<ProxySettings> copy(http.clone());
    EXPECT_TRUE(http.equals(copy.get()));
    EXPECT_STREQ("proxy.example", copy->host());
    EXPECT_NE(http.host(), copy->host());
    copy->setPassword("");
    EXPECT_FALSE(http.equals(copy.get()));  // null password differs from ""
    copy->setPassword(nullptr);
    copy->port = 8080;
    EXPECT_FALSE(http.equals(copy.get()));

    // Records without a proxy are equal whatever else they hold.
    ProxySettings leftover;
    leftover.setHost("old.example");
    EXPECT_TRUE(none.equals(&leftover));
    EXPECT_TRUE(leftover.equals(&none));
}

// Text becomes an address only as a strict dotted quad; the shorthand and
// trailing forms inet_aton took are neither address nor name.
TEST(HostText, OnlyStrictDottedQuadsAreAddresses) {
    const struct {
        const char* text;
        HostText kind;
    } cases[] = {
        {"127.0.0.1", HostText::kDottedQuad},
        {"255.255.255.255", HostText::kDottedQuad},
        {"1.2.3.4 trailing", HostText::kInvalid},
        {"127.1", HostText::kInvalid},
        {"0x7f.1", HostText::kInvalid},
        {"0x7f000001", HostText::kInvalid},
        {"2130706433", HostText::kInvalid},
        {"01.2.3.4", HostText::kInvalid},
        {"1.2.3.256", HostText::kInvalid},
        {"1.2.3.4.", HostText::kInvalid},
        {"", HostText::kInvalid},
        {"host name", HostText::kInvalid},
        {"files.example", HostText::kName},
        {"files.example.", HostText::kName},
        {"a-b_c.7zip", HostText::kName},
        {"localhost", HostText::kName},
    };
    for (const auto& c : cases) {
        in_addr dotted{};
        EXPECT_EQ(c.kind, classify_host(c.text, &dotted)) << c.text;
    }
    EXPECT_EQ(HostText::kInvalid, classify_host(std::string(256, 'a').c_str(), nullptr));
    EXPECT_EQ(HostText::kInvalid, classify_host(nullptr, nullptr));
}

TEST(HostText, ResolveRefusesWhatIsNeitherWithAndWithoutProxy) {
    std::unique_ptr<i4_tcpip_address> plain(resolve_ipv4("10.0.0.7"));
    ASSERT_NE(nullptr, plain);
    const uint8_t ten[4] = {10, 0, 0, 7};
    i4_tcpip_address expected(ten, 0);
    EXPECT_TRUE(plain->equals(&expected));

    ProxySettings settings;
    settings.type = kProxySocks5;
    settings.setHost("127.0.0.1");
    settings.port = 1080;
    std::unique_ptr<i4_tcpip_protocol> proxied(i4_tcpip_protocol::create(0, &settings));
    std::unique_ptr<i4_tcpip_protocol> direct(i4_tcpip_protocol::create(0, nullptr));
    for (const char* text : {"1.2.3.4 trailing", "127.1", "0x7f.1"}) {
        EXPECT_EQ(nullptr, std::unique_ptr<i4_address>(direct->resolve(text))) << text;
        EXPECT_EQ(nullptr, std::unique_ptr<i4_address>(proxied->resolve(text))) << text;
    }
    // Through the proxy a name stays a name, a dotted quad carries its address.
    std::unique_ptr<i4_address> name(proxied->resolve("files.example"));
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(0u, static_cast<i4_tcpip_address*>(name.get())->socketAddress().sin_addr.s_addr);
    std::unique_ptr<i4_address> dotted(proxied->resolve("10.0.0.7"));
    ASSERT_NE(nullptr, dotted);
    EXPECT_EQ(plain->socketAddress().sin_addr.s_addr,
              static_cast<i4_tcpip_address*>(dotted.get())->socketAddress().sin_addr.s_addr);
}

}  // namespace
