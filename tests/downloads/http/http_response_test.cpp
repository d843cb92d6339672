// The answer-header reader: fields, line ends, what is malformed, and
// headers that arrive in pieces.
#include "downloads/http/http_response.h"

#include <gtest/gtest.h>

#include <string>

namespace {

HttpHeadRead readText(const std::string& text, HttpResponseHead* head) {
    return readHttpResponseHead(reinterpret_cast<const uint8_t*>(text.data()), text.size(), head);
}

TEST(HttpResponse, ReadsTheFieldsItUses) {
    const std::string text =
        "\r\nHTTP/1.1 206 Partial Content\r\nServer: x\r\ncontent-length:  400 \r\nCONNECTION: keep-alive, Close\r\n"
        "Content-Range: bytes 100-499/1000\r\nLocation: \r\nLocation:  /next \r\n\r\nBODY";
    HttpResponseHead head;
    ASSERT_EQ(readText(text, &head), HttpHeadRead::kComplete);
    EXPECT_EQ(head.status, 206);
    EXPECT_EQ(head.contentLength, 400);
    EXPECT_TRUE(head.connectionClose);
    EXPECT_FALSE(head.otherEncoding);
    EXPECT_TRUE(head.hasContentRange);
    EXPECT_TRUE(head.rangeValid);
    EXPECT_EQ(head.rangeFirst, 100u);
    EXPECT_EQ(head.rangeLast, 499u);
    EXPECT_EQ(head.rangeTotal, 1000);
    EXPECT_EQ(head.location, "/next");
    EXPECT_EQ(text.substr(head.bodyStart), "BODY");
}

TEST(HttpResponse, BareLineFeedsEndTheHeaderToo) {
    const std::string text = "HTTP/1.0 200 OK\nContent-Length: 3\n\nabc";
    HttpResponseHead head;
    ASSERT_EQ(readText(text, &head), HttpHeadRead::kComplete);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.contentLength, 3);
    EXPECT_FALSE(head.connectionClose);
    EXPECT_FALSE(head.hasContentRange);
    EXPECT_EQ(head.bodyStart, text.find("abc"));
}

TEST(HttpResponse, EveryPieceOfAHeaderIsIncomplete) {
    const std::string text = "HTTP/1.1 302 Found\r\nLocation: /g\r\nContent-Length: 5\r\n\r\nmoved";
    size_t end = text.find("\r\n\r\n") + 4;
    HttpResponseHead head;
    for (size_t n = 0; n < end; n++)
        EXPECT_EQ(readText(text.substr(0, n), &head), HttpHeadRead::kIncomplete) << n;
    ASSERT_EQ(readText(text.substr(0, end), &head), HttpHeadRead::kComplete);
    EXPECT_EQ(head.bodyStart, end);
    // Only the first 10,240 bytes are looked at.
    std::string padded = "HTTP/1.1 200 OK\r\nX: " + std::string(kHttpMaxHeader, 'a') + "\r\n\r\n";
    EXPECT_EQ(readText(padded, &head), HttpHeadRead::kIncomplete);
}

TEST(HttpResponse, EncodingsAndRanges) {
    struct Row {
        const char* fields;
        bool otherEncoding;
        bool rangeValid;
        int64_t total;
    } rows[] = {
        {"Transfer-Encoding: chunked\r\n", true, false, -1},
        {"Transfer-Encoding: Identity\r\n", false, false, -1},
        {"Content-Range: bytes 0-9/*\r\n", false, true, -1},
        {"Content-Range: bytes 5-4/10\r\n", false, false, -1},
        {"Content-Range: bytes 0-10/10\r\n", false, false, -1},
        {"Content-Range: bytes */1000\r\n", false, false, -1},
        {"Content-Range: items 0-9/10\r\n", false, false, -1},
        {"Content-Range: bytes 0-9/10\r\n", false, true, 10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fields);
        HttpResponseHead head;
        ASSERT_EQ(readText(std::string("HTTP/1.1 206 x\r\n") + row.fields + "\r\n", &head), HttpHeadRead::kComplete);
        EXPECT_EQ(head.otherEncoding, row.otherEncoding);
        EXPECT_EQ(head.rangeValid, row.rangeValid);
        if (row.rangeValid) {
            EXPECT_EQ(head.rangeTotal, row.total);
        }
    }
}

TEST(HttpResponse, MalformedAnswers) {
    using namespace std::string_literals;
    const std::string texts[] = {
        "ICY 200 OK\r\n\r\n"s,
        "HTTX"s,
        "\0HTTP/1.1 200 OK\r\n\r\n"s,
        "HTTP/1.1\r\n\r\n"s,
        "HTTP/1.1 abc\r\n\r\n"s,
        "HTTP/1.1 2000 OK\r\n\r\n"s,
        "HTTP/1.1 20 OK\r\n\r\n"s,
        "HTTP/1.1 600 OK\r\n\r\n"s,
        "HTTP/1.1 200 OK\r\nContent-Length: 12a\r\n\r\n"s,
        "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n"s,
        "HTTP/1.1 200 OK\r\nContent-Length: 1234567890123456\r\n\r\n"s,
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n"s,
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        HttpResponseHead head;
        EXPECT_EQ(readText(text, &head), HttpHeadRead::kMalformed);
    }
    // A repeated equal length is fine.
    HttpResponseHead head;
    EXPECT_EQ(readText("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", &head),
              HttpHeadRead::kComplete);
}

}  // namespace
