// Tests of the response stage: golden raw responses (tests/feed/data/responses/, written by
// make_responses.py) fed whole, a byte at a time and at random splits must all give the same
// result; the header-block mode must agree with the raw mode; the size caps hold against a
// decompression bomb and a huge announced length.
#include "feed/http_response.h"
#include "tests/support/check.h"
#include "tests/support/whole_file.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifndef FM_RESPONSE_DATA
#error FM_RESPONSE_DATA names the folder of the golden responses
#endif

namespace {

std::string readFile(const std::string& name) {
    return readWholeFile(std::string(FM_RESPONSE_DATA) + "/" + name);
}

// What a caller sees of one response.
struct Outcome {
    std::string progress; // "complete" or "failed" (after finishResponse when needed)
    bool beforeClose;     // the outcome came without finishResponse
    int status;
    std::string statusText, contentType, etag, lastModified, retryAfter, location, failure;
    std::string body;
    bool terminated; // body[bodyLength] == 0

    bool operator==(const Outcome& o) const {
        return progress == o.progress && beforeClose == o.beforeClose && status == o.status &&
               statusText == o.statusText && contentType == o.contentType && etag == o.etag &&
               lastModified == o.lastModified && retryAfter == o.retryAfter &&
               location == o.location && failure == o.failure && body == o.body &&
               terminated == o.terminated;
    }
};

const char* progressName(ResponseProgress progress) {
    return progress == responseComplete ? "complete"
           : progress == responseFailed ? "failed"
                                        : "need more";
}

Outcome outcomeOf(HttpResponse& r, ResponseProgress progress, bool beforeClose) {
    Outcome o;
    o.progress = progressName(progress);
    o.beforeClose = beforeClose;
    o.status = r.status;
    o.statusText = r.statusText;
    o.contentType = r.contentType;
    o.etag = r.etag;
    o.lastModified = r.lastModified;
    o.retryAfter = r.retryAfter;
    o.location = r.location;
    o.failure = r.failureReason;
    o.body.assign(r.body, r.bodyLength);
    o.terminated = r.body[r.bodyLength] == 0;
    return o;
}

// Feeds a response in pieces of the given sizes (cycled; none = all at once), each an exact-size
// heap copy so that a read past a piece is caught, then reports the peer's close when the stage
// still wants more. headerBlock: hands it over as a client that reads the headers itself does,
// the header block first, then the body bytes.
Outcome run(const std::string& response, const std::vector<size_t>& pieces,
            bool headerBlock = false) {
    HttpResponse r;
    REQUIRE(beginResponse(&r, !headerBlock));
    ResponseProgress progress = responseNeedMore;
    size_t at = 0, turn = 0;
    if (headerBlock) {
        size_t end = response.find("\r\n\r\n");
        at = end == std::string::npos ? response.find("\n\n") + 2 : end + 4;
        REQUIRE(at > 2 && at <= response.size());
        progress = setResponseHeaders(&r, response.data(), at);
    }
    while (at < response.size() && progress == responseNeedMore) {
        size_t n = pieces.empty() ? response.size() : pieces[turn++ % pieces.size()];
        if (n > response.size() - at)
            n = response.size() - at;
        std::unique_ptr<char[]> piece(new char[n]);
        std::memcpy(piece.get(), response.data() + at, n);
        progress = feedResponse(&r, piece.get(), n);
        at += n;
    }
    bool beforeClose = progress != responseNeedMore;
    if (!beforeClose)
        progress = finishResponse(&r);
    // Whatever comes after the outcome changes nothing.
    CHECK_EQ(feedResponse(&r, "HTTP/1.1 200 OK\r\n\r\nmore", 23), progress);
    CHECK_EQ(finishResponse(&r), progress);
    Outcome o = outcomeOf(r, progress, beforeClose);
    endResponse(&r);
    return o;
}

std::vector<size_t> randomPieces(unsigned seed) {
    std::srand(seed);
    std::vector<size_t> pieces;
    for (int i = 0; i < 97; ++i)
        pieces.push_back(size_t(std::rand() % 23 + 1) * (i % 7 == 0 ? 41 : 1));
    return pieces;
}

struct GoldenCase {
    const char* file;
    const char* progress;
    bool beforeClose;
    int status;
    const char* statusText;
    const char* failure;
    const char* body; // a file name ("@feed.xml") or the body itself
    bool headerBlock; // also run through setResponseHeaders (not for chunked or broken heads)
};

const GoldenCase goldenCases[] = {
    {"chunked_extensions_trailer.http", "complete", true, 200, "OK", "", "@feed.xml", false},
    {"chunked_bare_lf.http", "complete", true, 200, "OK", "", "@feed.xml", false},
    {"gzip_length.http", "complete", true, 200, "OK", "", "@feed.xml", true},
    {"gzip_chunked.http", "complete", true, 200, "OK", "", "@feed.xml", false},
    {"gzip_two_members_close.http", "complete", false, 200, "OK", "", "@feed.xml", true},
    {"deflate_zlib.http", "complete", true, 200, "OK", "", "@feed.xml", true},
    {"deflate_raw.http", "complete", true, 200, "OK", "", "@feed.xml", true},
    {"gzip_broken.http", "failed", true, 200, "OK", "broken compressed data", nullptr, true},
    {"gzip_cut_by_length.http", "failed", true, 200, "OK", "broken compressed data", nullptr, true},
    {"length_extra_bytes.http", "complete", true, 200, "OK", "", "exactly twenty-five bytes", true},
    {"not_modified_304.http", "complete", true, 304, "Not Modified", "", "", true},
    // An error page is never read: the status and headers are all that is used.
    {"not_found_404.http", "complete", true, 404, "Not Found", "", "", true},
    {"redirect_301.http", "complete", true, 301, "Moved Permanently", "", "", true},
    {"unavailable_503.http", "complete", true, 503, "Service Unavailable", "", "", true},
    {"continue_then_ok.http", "complete", true, 200, "OK", "", "@feed.xml", false},
    {"http10_until_close.http", "complete", false, 200, "OK", "", "@feed.xml", true},
    {"garbage.http", "failed", true, 0, "", "not an HTTP response", "", false},
    {"truncated_length.http", "failed", false, 200, "OK", "connection closed early", nullptr, true},
    {"truncated_chunked.http", "failed", false, 200, "OK", "connection closed early", nullptr,
     false},
    {"truncated_headers.http", "failed", false, 200, "OK", "connection closed early", "", false},
    {"length_4g_short_body.http", "failed", false, 200, "OK", "connection closed early", nullptr,
     true},
    {"header_line_too_long.http", "failed", true, 200, "OK", "header line too long", "", false},
    {"chunk_size_not_hex.http", "failed", true, 200, "OK", "broken chunked encoding", nullptr,
     false},
    {"brotli_unsupported.http", "failed", true, 200, "OK", "unsupported content encoding", "",
     false},
};

} // namespace

TEST(golden_responses_give_one_result_however_they_are_split) {
    std::string feed = readFile("feed.xml");
    REQUIRE(feed.size() > 4000);
    for (const GoldenCase& c : goldenCases) {
        std::string response = readFile(c.file);
        REQUIRE(!response.empty());
        Outcome whole = run(response, {});
        if (whole.failure != c.failure)
            std::printf("  %s: %s\n", c.file, whole.failure.c_str());
        CHECK_EQ(whole.progress, c.progress);
        CHECK_EQ(whole.beforeClose, c.beforeClose);
        CHECK_EQ(whole.status, c.status);
        CHECK_EQ(whole.statusText, c.statusText);
        CHECK_EQ(whole.failure, c.failure);
        CHECK(whole.terminated);
        if (c.body)
            CHECK(whole.body == (c.body[0] == '@' ? readFile(c.body + 1) : std::string(c.body)));
        CHECK(run(response, {1}) == whole);
        for (unsigned seed = 1; seed <= 3; ++seed)
            CHECK(run(response, randomPieces(seed)) == whole);
        if (c.headerBlock) {
            CHECK(run(response, {}, true) == whole);
            CHECK(run(response, {1}, true) == whole);
            CHECK(run(response, randomPieces(7), true) == whole);
        }
    }
}

TEST(kept_headers_are_found_without_regard_to_case_and_trimmed) {
    Outcome o = run(readFile("http10_until_close.http"), {});
    CHECK_EQ(o.contentType, "text/xml");
    o = run(readFile("not_modified_304.http"), {});
    CHECK_EQ(o.etag, "\"v2\"");
    CHECK_EQ(o.lastModified, "Mon, 07 Dec 2026 10:00:00 GMT");
    CHECK_EQ(o.body, "");
    o = run(readFile("redirect_301.http"), {});
    CHECK_EQ(o.location, "http://127.0.0.1:8080/new/feed.xml");
    o = run(readFile("unavailable_503.http"), {});
    CHECK_EQ(o.retryAfter, "120");
    o = run(readFile("chunked_extensions_trailer.http"), {});
    CHECK_EQ(o.contentType, "application/rss+xml; charset=utf-8");
    CHECK_EQ(o.etag, "\"v1-chunk\"");
    // The interim responses' headers are not the final response's.
    o = run(readFile("continue_then_ok.http"), {});
    CHECK_EQ(o.contentType, "text/xml");

    // Location and the validators are kept whole up to 8 KiB and not at all beyond; the same
    // goes for a value folded over several lines, which is joined with single blanks.
    for (size_t length : {size_t(3000), responseWholeFieldLimit, responseWholeFieldLimit + 1}) {
        std::string value = "http://h/" + std::string(length - 13, 'x') + "&end";
        std::string head = "HTTP/1.1 302 Found\r\nLocation: " + value + "\r\nETag: \"" +
                           std::string(length - 2, 'e') +
                           "\"\r\nLast-Modified: " + std::string(length, 'm') + "\r\n\r\nbody";
        bool fits = length <= responseWholeFieldLimit;
        for (bool block : {false, true}) {
            o = run(head, {}, block);
            CHECK_EQ(o.location, fits ? value : "");
            CHECK_EQ(o.etag.size(), fits ? length : 0);
            CHECK_EQ(o.lastModified.size(), fits ? length : 0);
        }
    }
    o = run("HTTP/1.1 302 Found\r\nLocation:\r\n http://h/a\r\n\t b\r\nContent-Type: text/xml;\r\n"
            "  charset=koi8-r\r\nX-Other: 1\r\n continued\r\n\r\n",
            {});
    CHECK_EQ(o.location, "http://h/a b");
    CHECK_EQ(o.contentType, "text/xml; charset=koi8-r");

    // A value with a control character is not kept: it could carry a line break into the next
    // request's If-None-Match or into a redirect's address. A reason phrase is only shown, so its
    // control characters become blanks.
    const char controls[] = "HTTP/1.1 404 Not\x1b[2JFound\r\nETag: \"a\"\rX-Injected: 1\r\n"
                            "Location: http://127.0.0.1/\0evil\r\nContent-Type: text/xml\r\n\r\n";
    o = run(std::string(controls, sizeof controls - 1), {});
    CHECK_EQ(o.statusText, "Not [2JFound");
    CHECK_EQ(o.etag, "");
    CHECK_EQ(o.location, "");
    CHECK_EQ(o.contentType, "text/xml");

    // A header line of exactly the line cap is read (in either mode, with CRLF or LF); one byte
    // more fails.
    for (size_t extra : {size_t(0), size_t(1)}) {
        std::string line = "X-Padding: " + std::string(responseLineCap + extra - 11, 'p');
        for (const char* eol : {"\r\n", "\n"}) {
            std::string response = "HTTP/1.1 200 OK" + std::string(eol) + line + eol + eol + "body";
            Outcome raw = run(response, {});
            CHECK_EQ(raw.failure, extra ? "header line too long" : "");
            CHECK(run(response, {4096}) == raw);
            if (*eol == '\r')
                CHECK(run(response, {}, true) == raw);
        }
    }
}

TEST(status_lines_and_framing_table) {
    struct Row {
        const char* response;
        const char* progress;
        int status;
        const char* statusText;
        const char* failure;
        const char* body;
    };
    const Row rows[] = {
        {"HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok", "complete", 200, "", "", "ok"},
        // Any status but 2xx ends at its headers, however large the body announced.
        {"HTTP/1.0 404 Not Found\r\n\r\ngone", "complete", 404, "Not Found", "", ""},
        {"HTTP/1.1 503 Busy\r\nRetry-After: 3600\r\nContent-Length: 35651584\r\n\r\ncut",
         "complete", 503, "Busy", "", ""},
        {"\r\nHTTP/1.1 200 OK\r\n\r\nx", "complete", 200, "OK", "", "x"},
        {"HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", "complete", 204, "No Content", "",
         ""},
        {"HTTP/1.1 2000 OK\r\n\r\n", "failed", 0, "", "not an HTTP response", ""},
        {"HTTP/1.1 099 Low\r\n\r\n", "failed", 0, "", "not an HTTP response", ""},
        {"ICY 200 OK\r\n\r\n", "failed", 0, "", "not an HTTP response", ""},
        {"HTTP/1.1 OK 200\r\n\r\n", "failed", 0, "", "not an HTTP response", ""},
        {"", "failed", 0, "", "not an HTTP response", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", "failed", 200,
         "OK", "bad Content-Length", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nabcd", "failed", 200, "OK",
         "bad Content-Length", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nabcd", "failed", 200,
         "OK", "bad Content-Length", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Length: 4\r\n\r\nabcd", "complete", 200,
         "OK", "", "abcd"},
        // Transfer-Encoding frames the body; the Content-Length beside it does not.
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n"
         "5\r\nhello\r\n0\r\n\r\n",
         "complete", 200, "OK", "", "hello"},
        // The last chunk came; only the trailer section's end is missing when the peer closes.
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n", "complete", 200,
         "OK", "", "abc"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcX\r\n0\r\n\r\n", "failed",
         200, "OK", "broken chunked encoding", "abc"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\n", "failed",
         200, "OK", "broken chunked encoding", ""},
        {"HTTP/1.1 200 OK\r\nContent-Encoding: gzip, deflate\r\n\r\n", "failed", 200, "OK",
         "unsupported content encoding", ""},
        // Chunked must be the last transfer coding, and come once; a coding before it is undone
        // after the chunks.
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         "failed", 200, "OK", "unsupported transfer encoding", ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n\r\nx",
         "failed", 200, "OK", "unsupported transfer encoding", ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, chunked\r\n\r\n1\r\na\r\n0\r\n\r\n",
         "failed", 200, "OK", "unsupported content encoding", ""},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, identity\r\n\r\n1\r\na\r\n0\r\n\r\n",
         "complete", 200, "OK", "", "a"},
        {"HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\n\r\nplain", "complete", 200, "OK", "",
         "plain"},
        // An empty compressed body is an empty body.
        {"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 0\r\n\r\n", "complete", 200,
         "OK", "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n\x1f", "failed", 200, "OK",
         "connection closed early", ""},
    };
    for (const Row& row : rows) {
        Outcome whole = run(row.response, {});
        CHECK_EQ(whole.progress, row.progress);
        CHECK_EQ(whole.status, row.status);
        CHECK_EQ(whole.statusText, row.statusText);
        CHECK_EQ(whole.failure, row.failure);
        CHECK_EQ(whole.body, row.body);
        CHECK(run(row.response, {1}) == whole);
        if (whole.progress != row.progress)
            std::printf("  row: %s\n", row.response);
    }
}

TEST(header_block_mode_takes_a_body_already_dechunked) {
    // A client that removes the chunks itself still passes the Transfer-Encoding header on.
    const char headers[] = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                           "Content-Type: text/xml\r\n\r\n";
    HttpResponse r;
    REQUIRE(beginResponse(&r, false));
    CHECK_EQ(setResponseHeaders(&r, headers, sizeof headers - 1), responseNeedMore);
    CHECK_EQ(feedResponse(&r, "0\r\n", 3), responseNeedMore);
    CHECK_EQ(finishResponse(&r), responseComplete);
    CHECK_EQ(r.body, "0\r\n");
    CHECK_EQ(r.contentType, "text/xml");
    size_t length = 0;
    char* body = takeResponseBody(&r, &length);
    CHECK_EQ(length, size_t(3));
    CHECK_EQ(body, "0\r\n");
    std::free(body);
    CHECK(r.body == nullptr);
    endResponse(&r);

    // Bytes before the headers, or no status line at all, are not a response.
    REQUIRE(beginResponse(&r, false));
    CHECK_EQ(feedResponse(&r, "x", 1), responseFailed);
    CHECK_EQ(r.failureReason, "not an HTTP response");
    endResponse(&r);
    REQUIRE(beginResponse(&r, false));
    CHECK_EQ(setResponseHeaders(&r, "Content-Type: text/xml\r\n\r\n", 26), responseFailed);
    endResponse(&r);
}

TEST(receiving_into_the_body_matches_feeding) {
    std::string feed = readFile("feed.xml");
    std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(feed.size()) + "\r\n\r\n";
    HttpResponse r;
    REQUIRE(beginResponse(&r, true));
    size_t room = 1;
    CHECK(responseReceiveArea(&r, 100, &room) == nullptr); // headers still to come
    CHECK_EQ(room, size_t(0));
    CHECK_EQ(feedResponse(&r, head.data(), head.size()), responseNeedMore);
    ResponseProgress progress = responseNeedMore;
    size_t at = 0;
    for (size_t turn = 0; progress == responseNeedMore && turn < 10000; ++turn) {
        char* area = responseReceiveArea(&r, 1000 + turn * 37, &room);
        REQUIRE(area != nullptr);
        REQUIRE(room > 0 && room <= feed.size() - at);
        size_t n = room < 777 ? room : 777;
        std::memcpy(area, feed.data() + at, n);
        at += n;
        progress = commitResponseReceive(&r, n);
    }
    CHECK_EQ(progress, responseComplete);
    CHECK(std::string(r.body, r.bodyLength) == feed);
    endResponse(&r);

    // Without Content-Length the area ends one byte past the cap, so an oversized body shows.
    REQUIRE(beginResponse(&r, true));
    CHECK_EQ(feedResponse(&r, "HTTP/1.0 200 OK\r\n\r\n", 19), responseNeedMore);
    progress = responseNeedMore;
    for (int turn = 0; progress == responseNeedMore && turn < 1000; ++turn) {
        char* area = responseReceiveArea(&r, 4u << 20, &room);
        REQUIRE(area != nullptr);
        std::memset(area, 'a', room);
        progress = commitResponseReceive(&r, room);
    }
    CHECK_EQ(progress, responseFailed);
    CHECK_EQ(r.failureReason, "feed too large");
    CHECK(r.bodyLength <= responseBodyCap);
    CHECK(responseMemoryPeak(&r) <= responseBodyCap + 4096);
    endResponse(&r);

    // A compressed body goes through feedResponse.
    REQUIRE(beginResponse(&r, true));
    const char gzipHead[] = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n";
    CHECK_EQ(feedResponse(&r, gzipHead, sizeof gzipHead - 1), responseNeedMore);
    CHECK(responseReceiveArea(&r, 100, &room) == nullptr);
    endResponse(&r);
}

TEST(bodies_stop_at_the_cap_and_memory_stays_bounded) {
    // 1 GiB of zeros, compressed here in a streaming loop, fed as gzip: inflating stops at the cap.
    std::string bomb;
    {
        z_stream z{};
        REQUIRE(deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) == Z_OK);
        std::vector<unsigned char> zeros(1u << 20, 0), out(1u << 16);
        for (int mebibyte = 0; mebibyte < 1024; ++mebibyte) {
            z.next_in = zeros.data();
            z.avail_in = uInt(zeros.size());
            int flush = mebibyte == 1023 ? Z_FINISH : Z_NO_FLUSH;
            do {
                z.next_out = out.data();
                z.avail_out = uInt(out.size());
                deflate(&z, flush);
                bomb.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
            } while (z.avail_out == 0);
        }
        deflateEnd(&z);
    }
    REQUIRE(bomb.size() < (2u << 20));
    for (bool raw : {true, false}) {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                           std::to_string(bomb.size()) + "\r\n\r\n";
        HttpResponse r;
        REQUIRE(beginResponse(&r, raw));
        ResponseProgress progress = raw ? feedResponse(&r, head.data(), head.size())
                                        : setResponseHeaders(&r, head.data(), head.size());
        for (size_t at = 0; at < bomb.size() && progress == responseNeedMore; at += 65536)
            progress = feedResponse(&r, bomb.data() + at,
                                    bomb.size() - at < 65536 ? bomb.size() - at : 65536);
        CHECK_EQ(progress, responseFailed);
        CHECK_EQ(r.failureReason, "feed too large");
        CHECK(r.bodyLength <= responseBodyCap);
        CHECK_EQ(r.body[r.bodyLength], '\0');
        CHECK(responseMemoryPeak(&r) <= responseBodyCap + (1u << 20));
        endResponse(&r);
    }

    // A plain body of exactly the cap is whole; one byte more is too large. An announced length
    // beyond the cap reserves nothing up front.
    std::string big(responseBodyCap, 'b');
    for (size_t extra : {size_t(0), size_t(1)}) {
        HttpResponse r;
        REQUIRE(beginResponse(&r, true));
        std::string head =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(responseBodyCap + extra) +
            "\r\n\r\n";
        CHECK_EQ(feedResponse(&r, head.data(), head.size()), responseNeedMore);
        CHECK(responseMemoryPeak(&r) <= responseBodyCap + 4096);
        ResponseProgress progress = feedResponse(&r, big.data(), big.size());
        if (extra)
            progress = feedResponse(&r, "b", 1);
        CHECK_EQ(progress, extra ? responseFailed : responseComplete);
        CHECK_EQ(r.failureReason, extra ? "feed too large" : "");
        CHECK(r.bodyLength == responseBodyCap);
        CHECK(responseMemoryPeak(&r) <= responseBodyCap + 4096);
        endResponse(&r);
    }
    HttpResponse r;
    REQUIRE(beginResponse(&r, true));
    const char huge[] = "HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\n\r\nsmall";
    CHECK_EQ(feedResponse(&r, huge, sizeof huge - 1), responseNeedMore);
    CHECK(responseMemoryPeak(&r) < (1u << 20));
    CHECK_EQ(finishResponse(&r), responseFailed);
    CHECK_EQ(r.failureReason, "connection closed early");
    CHECK_EQ(r.body, "small");
    endResponse(&r);
}
