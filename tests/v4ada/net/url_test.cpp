#include "v4ada/net/url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SplitUrl, Table) {
    struct Case {
        const char* url;
        bool ok;
        const char* scheme;
        const char* host;
        const char* path;
        const char* rest;
        int port;  // starts at 80
    };
    const Case cases[] = {
        {"http://files.example:8080/dir/name.bin", true, "http", "files.example", "/dir/name.bin", "dir/name.bin",
         8080},
        {"http://files.example/a/b", true, "http", "files.example", "/a/b", "a/b", 80},
        {"http://10.0.0.1:81/", true, "http", "10.0.0.1", "/", "", 81},
        {"http://files.example", false, "", "", "", "", 80},
        {"http://files.example:8080", false, "", "", "", "", 80},
        {"http://files.example:/x", false, "", "", "", "", 80},
        {"http://files.example:99999/x", false, "", "", "", "", 80},
        {"http:", false, "", "", "", "", 80},
        {"no colon here", false, "", "", "", "", 80},
        {"mailto:someone", false, "", "", "", "", 80},
        {"", false, "", "", "", "", 80},
    };
    for (const Case& c : cases) {
        OwnedString scheme;
        OwnedString host;
        OwnedString path;
        OwnedString rest;
        int port = 80;
        EXPECT_EQ(c.ok, split_url(c.url, &scheme, &host, &path, &rest, &port)) << c.url;
        EXPECT_EQ(c.port, port) << c.url;
        if (!c.ok) continue;
        EXPECT_STREQ(c.scheme, scheme.c_str()) << c.url;
        EXPECT_STREQ(c.host, host.c_str()) << c.url;
        EXPECT_STREQ(c.path, path.c_str()) << c.url;
        EXPECT_STREQ(c.rest, rest.c_str()) << c.url;
    }
    int port = 80;
    OwnedString s, h, p, r;
    EXPECT_FALSE(split_url(nullptr, &s, &h, &p, &r, &port));
}

}  // namespace
