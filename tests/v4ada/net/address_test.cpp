#include "v4ada/net/address.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"
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

}  // namespace
