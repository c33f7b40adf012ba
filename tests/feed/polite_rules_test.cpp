// The schedule of automatic updates, the health line and the saved copy of the headlines, each
// through its own unit: table rows for the rules, exact-size copies for the cache's decoding (so
// the sanitizers of the native build catch any over-read), real files for the cache on Windows.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "content/key_hash.h"
#include "content/rss_parser.h"
#include "feed/feed_health.h"
#include "feed/headline_cache.h"
#include "feed/seen_keys.h"
#include "feed/update_schedule.h"
#include "tests/support/check.h"
#ifdef _WIN32
#include <windows.h>
#include "tests/support/temp_folder.h"
#endif

namespace {

// 2026-12-08 14:21:00 UTC.
const int64_t now = 1796739660;

std::string fails(int n) {
    return std::to_string(n) + " failures";
}

} // namespace

TEST(theIntervalInForceAndTheDelayAfterEachOutcome) {
    struct Interval {
        int user, ttl, inForce;
    } intervals[] = {
        {15, 0, 15}, {15, 60, 60},     {90, 60, 90},      {0, 0, 1},
        {-5, 0, 1},  {15, 5000, 1440}, {100000, 0, 1440},
    };
    for (const Interval& i : intervals)
        CHECK_EQ(intervalInForceMinutes(i.user, i.ttl), i.inForce);

    // Failures in a row with the spread at its middle (random = spread): 1x, 2x, 4x, ... 4 hours.
    UpdateSchedule schedule = {};
    const int64_t expected[] = {900, 1800, 3600, 7200, 14400, 14400};
    for (int n = 1; n <= 6; ++n) {
        int64_t stretched = expected[n - 1];
        uint32_t middle = static_cast<uint32_t>(stretched / 10);
        int64_t delay = recordUpdateOutcome(&schedule, false, 500, nullptr, now, 15, middle);
        if (delay != stretched)
            check::fail(__FILE__, __LINE__, fails(n) + ": " + std::to_string(delay));
    }
    // The spread reaches about 10% either way and never past the 4 hour cap.
    UpdateSchedule three = {2};
    CHECK_EQ(recordUpdateOutcome(&three, false, 500, nullptr, now, 15, 0), int64_t(3240));
    three.failures = 2;
    CHECK_EQ(recordUpdateOutcome(&three, false, 500, nullptr, now, 15, 720), int64_t(3960));
    UpdateSchedule capped = {9};
    CHECK_EQ(recordUpdateOutcome(&capped, false, 500, nullptr, now, 15, 2880), int64_t(14400));
    // One success restores the interval; an interval longer than the cap is never shortened.
    CHECK_EQ(recordUpdateOutcome(&schedule, true, 200, nullptr, now, 15, 0), int64_t(900));
    CHECK_EQ(schedule.failures, 0);
    CHECK_EQ(recordUpdateOutcome(&schedule, false, 0, nullptr, now, 15, 0), int64_t(900));
    UpdateSchedule longer = {3};
    CHECK_EQ(recordUpdateOutcome(&longer, false, 0, nullptr, now, 600, 0), int64_t(36000));

    // Retry-After on 429 and 503, in seconds or as a date, at most a day; other statuses and
    // shorter waits than the schedule's leave the schedule's delay.
    struct Retry {
        int status;
        const char* header;
        int64_t delay;
    } retries[] = {
        {503, "3600", 3600},
        {429, "7200", 7200},
        {503, "Tue, 08 Dec 2026 16:21:00 GMT", 7200},
        {429, "Tuesday, 08-Dec-26 15:21:00 GMT", 3600},
        {503, "Tue Dec  8 15:51:00 2026", 5400},
        {503, "999999999", 86400},
        {503, "Wed, 09 Dec 2027 00:00:00 GMT", 86400},
        {503, "60", 900},
        {503, "Tue, 08 Dec 2026 12:00:00 GMT", 900}, // in the past
        {503, "soon", 900},
        {503, "12 apples", 900},
        {500, "3600", 900},
        {404, "3600", 900},
    };
    for (const Retry& r : retries) {
        UpdateSchedule fresh = {};
        int64_t delay = recordUpdateOutcome(&fresh, false, r.status, r.header, now, 15, 0);
        if (delay != r.delay)
            check::fail(__FILE__, __LINE__,
                        std::to_string(r.status) + " " + r.header + ": " + std::to_string(delay));
    }
    CHECK_EQ(parseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), int64_t(784111777));
    CHECK_EQ(parseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), int64_t(784111777));
    CHECK_EQ(parseHttpDate("Sun Nov  6 08:49:37 1994"), int64_t(784111777));
    CHECK_EQ(parseHttpDate("Sun, 06 Nov 1994 08:49"), int64_t(-1));
    CHECK_EQ(parseHttpDate("Sun, 06 Foo 1994 08:49:37 GMT"), int64_t(-1));
    CHECK_EQ(parseHttpDate(""), int64_t(-1));
}

TEST(theHealthLineOfEachState) {
    struct Row {
        HealthKind kind;
        int items;
        const char* reason;
        const char* nextTry;
        const char* movedTo;
        int interval;
        const char* line;
    } rows[] = {
        {healthUnknown, 0, "", "", "", 15, ""},
        {healthUpdated, 25, "", "", "", 15, "Updated 12/08 14:21, 25 items (every 15 min)"},
        {healthUpdated, 1, "", "", "", 60, "Updated 12/08 14:21, 1 item (every 60 min)"},
        {healthNotModified, 0, "", "", "", 15, "Not modified, checked 12/08 14:21 (every 15 min)"},
        {healthFailed, 0, "HTTP 503 Service Unavailable", "15:21", "", 15,
         "Failed 12/08 14:21: HTTP 503 Service Unavailable. Next try 15:21"},
        {healthFailed, 0, "certificate not trusted", "", "", 15,
         "Failed 12/08 14:21: certificate not trusted"},
        {healthCached, 3, "", "", "", 15,
         "Saved headlines from 12/08 14:21, 3 items; checking now"},
        {healthUpdated, 3, "", "", "https://example.org/rss", 15,
         "Moved permanently to https://example.org/rss (update the feed address to keep it)"},
    };
    for (const Row& row : rows) {
        HealthFacts facts = {};
        facts.kind = row.kind;
        std::strcpy(facts.when, "12/08 14:21");
        facts.items = row.items;
        std::strcpy(facts.reason, row.reason);
        std::strcpy(facts.nextTry, row.nextTry);
        facts.movedTo = row.movedTo;
        facts.intervalMinutes = row.interval;
        char line[512];
        size_t length = composeHealthLine(&facts, line, sizeof line);
        CHECK_EQ(std::string(line), std::string(row.line));
        CHECK_EQ(length, std::strlen(row.line));
    }
    // An address moved to is named whole, up to the longest address kept.
    std::string longAddress = "https://example.org/" + std::string(8150, 'a');
    HealthFacts moved = {};
    moved.kind = healthUpdated;
    moved.movedTo = longAddress.c_str();
    std::string movedLine(9000, '\0');
    movedLine.resize(composeHealthLine(&moved, &movedLine[0], movedLine.size()));
    CHECK_EQ(movedLine,
             "Moved permanently to " + longAddress + " (update the feed address to keep it)");
    // A small buffer gets a cut, terminated line.
    HealthFacts facts = {};
    facts.kind = healthNotModified;
    std::strcpy(facts.when, "12/08 14:21");
    char small[8];
    CHECK_EQ(composeHealthLine(&facts, small, sizeof small), size_t(7));
    CHECK_EQ(std::string(small), std::string("Not mod"));
}

TEST(theHealthReportOfSeveralFeedsPutsFailuresFirstAndStaysWithinItsBound) {
    NamedHealth feeds[] = {{"Alpha", "Updated 12/08 14:21, 5 items (every 15 min)", false},
                           {"Beta", "Failed 12/08 14:21: HTTP 404 Not Found", true},
                           {"Gamma", "Connecting...", true}};
    char out[healthReportLimit];
    composeHealthReport(feeds, 3, out, sizeof out);
    CHECK_EQ(std::string(out), std::string("Beta: Failed 12/08 14:21: HTTP 404 Not Found | "
                                           "Gamma: Connecting... | Alpha: Updated 12/08 14:21, "
                                           "5 items (every 15 min)"));
    // A thousand feeds: as many lines as fit, whole, then how many were left out.
    std::vector<NamedHealth> many(1000, feeds[0]);
    many[999] = feeds[1];
    size_t length = composeHealthReport(many.data(), 1000, out, sizeof out);
    std::string report(out, length);
    CHECK(length < healthReportLimit);
    CHECK_EQ(report.compare(0, 5, "Beta:"), 0);
    size_t lines = 1;
    for (size_t at = report.find(" | "); at != std::string::npos; at = report.find(" | ", at + 1))
        ++lines;
    size_t tail = report.rfind(" | ... and ");
    REQUIRE(tail != std::string::npos);
    CHECK_EQ(report.substr(tail), " | ... and " + std::to_string(1000 - (lines - 1)) + " more");
    const std::string lastWhole = "5 items (every 15 min)";
    CHECK_EQ(report.substr(tail - lastWhole.size(), lastWhole.size()), lastWhole);
}

namespace {

// Decodes an exact-size heap copy of bytes.
bool decodes(const std::string& bytes, CachedFeed* feed) {
    char* copy = static_cast<char*>(std::malloc(bytes.size() + 1));
    std::memcpy(copy, bytes.data(), bytes.size());
    bool ok = decodeHeadlineCache(copy, bytes.size(), feed);
    std::free(copy);
    return ok;
}

// covered followed by its checksum line, computed here bit by bit (independently of zlib).
std::string sealed(const std::string& covered) {
    unsigned long crc = 0xFFFFFFFFul;
    for (unsigned char byte : covered) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320ul & (0ul - (crc & 1)));
    }
    char line[16];
    std::snprintf(line, sizeof line, "crc %08lx\n", ~crc & 0xFFFFFFFFul);
    return covered + line;
}

// The bytes before the checksum of a cache file as the writer makes it.
std::string covered(const CachedFeed& feed, const std::string& body) {
    std::string header(cacheHeaderLimit, '\0');
    size_t length = composeCacheHeader(&feed, body.size(), &header[0], header.size());
    return header.substr(0, length) + body + "\n";
}

} // namespace

TEST(theCacheFormatDecodesOnlyWholeIntactFiles) {
    CachedFeed feed = {};
    feed.url = "http://127.0.0.1:8080/news.rss";
    feed.etag = "\"v1\"";
    feed.savedAt = now;
    std::string body = std::string("<rss>\0\n</rss>", 13);
    std::string whole = sealed(covered(feed, body));
    CachedFeed read = {};
    REQUIRE(decodes(whole, &read));
    CHECK(std::string(read.body, read.bodyLength) == body);
    CHECK_EQ(std::string(read.url), std::string(feed.url));
    CHECK_EQ(read.savedAt, now);
    freeCachedFeed(&read);
    // Every cut, every single changed byte and a doctored length are refused.
    size_t accepted = 0;
    for (size_t cut = 0; cut < whole.size(); ++cut)
        accepted += decodes(whole.substr(0, cut), &read);
    for (size_t at = 0; at < whole.size(); ++at) {
        std::string changed = whole;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        accepted += decodes(changed, &read);
    }
    CHECK_EQ(accepted, size_t(0));
    // A field longer than its record holds, or a body longer than the file, is refused even
    // with a matching checksum.
    // Addresses are kept whole up to 8 KiB.
    CachedFeed longUrl = feed;
    std::string eightKiB(8192, 'u');
    longUrl.url = eightKiB.c_str();
    std::string text = covered(longUrl, body);
    REQUIRE(decodes(sealed(text), &read));
    CHECK_EQ(std::string(read.url), eightKiB);
    freeCachedFeed(&read);
    size_t urlLine = text.find("url 8192\n");
    REQUIRE(urlLine != std::string::npos);
    text.replace(urlLine, 9, "url 8193\nu");
    CHECK(!decodes(sealed(text), &read));
    std::string longBody = covered(feed, body);
    size_t bodyLine = longBody.find("body 13\n");
    REQUIRE(bodyLine != std::string::npos);
    longBody.replace(bodyLine, 8, "body 99\n");
    CHECK(!decodes(sealed(longBody), &read));
}

#ifdef _WIN32
TEST(theSavedCopyIsReadBackOnlyWhenWholeAndIntact) {
    TempFolder folder("cache");
    std::string path = folder.file("feedmarquee.cache");
    CachedFeed feed = {};
    feed.url = "http://127.0.0.1:8080/news.rss";
    feed.finalUrl = "http://127.0.0.1:8080/final.rss";
    feed.etag = "\"v1\"";
    feed.lastModified = "Tue, 08 Dec 2026 14:21:00 GMT";
    feed.savedAt = now;
    std::string body = "<rss><channel><title>T</title><item><title>A</title></item></channel>"
                       "</rss>\n";
    body += std::string("binary\0\r\n\xff", 10);
    REQUIRE(writeCacheTemporary(path.c_str(), &feed, body.data(), body.size()));
    CHECK(!fileExists(path));
    REQUIRE(commitCacheTemporary(path.c_str()));
    CHECK(!fileExists(path + ".tmp"));

    CachedFeed read = {};
    REQUIRE(readHeadlineCache(path.c_str(), &read));
    CHECK_EQ(std::string(read.url), std::string(feed.url));
    CHECK_EQ(std::string(read.finalUrl), std::string(feed.finalUrl));
    CHECK_EQ(std::string(read.etag), std::string(feed.etag));
    CHECK_EQ(std::string(read.lastModified), std::string(feed.lastModified));
    CHECK_EQ(read.savedAt, now);
    CHECK(std::string(read.body, read.bodyLength) == body);
    CHECK_EQ(read.body[read.bodyLength], '\0');
    freeCachedFeed(&read);

    // A write that stops between the temporary file and the rename leaves the old copy in use.
    CachedFeed other = feed;
    other.etag = "\"v2\"";
    REQUIRE(writeCacheTemporary(path.c_str(), &other, "new", 3));
    REQUIRE(readHeadlineCache(path.c_str(), &read));
    CHECK_EQ(std::string(read.etag), std::string("\"v1\""));
    freeCachedFeed(&read);
    discardCacheTemporary(path.c_str());
    CHECK(!fileExists(path + ".tmp"));

    // Damaged files are no cache: cut anywhere, a byte changed, random bytes, another format.
    std::string whole = readFileText(path);
    REQUIRE(whole.size() > 100);
    std::string flipped = whole;
    flipped[whole.size() / 2] ^= 0x20;
    std::string lengthened = whole;
    lengthened.insert(lengthened.find("body ") + 5, "1");
    std::string random;
    unsigned seed = 12345;
    for (int i = 0; i < 5000; ++i) {
        seed = seed * 1103515245 + 12345;
        random += static_cast<char>(seed >> 16);
    }
    const std::string damaged[] = {whole.substr(0, whole.size() - 1),
                                   whole.substr(0, whole.size() / 2),
                                   whole.substr(0, 20),
                                   flipped,
                                   lengthened,
                                   random,
                                   "FeedMarquee headline cache 2\n" + whole.substr(29),
                                   "HTTP/1.0 200 OK\r\n\r\n<rss/>",
                                   ""};
    for (const std::string& bytes : damaged) {
        REQUIRE(writeFileText(path, bytes));
        read.body = reinterpret_cast<char*>(1);
        if (readHeadlineCache(path.c_str(), &read) || read.body != nullptr)
            check::fail(__FILE__, __LINE__, "accepted " + std::to_string(bytes.size()) + " bytes");
        freeCachedFeed(&read);
    }
    // 100 MB (zero-filled) is refused by its size, before any of it is read.
    HANDLE big = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(big != INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 100LL << 20;
    CHECK(SetFilePointerEx(big, size, nullptr, FILE_BEGIN) && SetEndOfFile(big));
    CloseHandle(big);
    CHECK(!readHeadlineCache(path.c_str(), &read));
    CHECK(!readHeadlineCache(folder.file("missing").c_str(), &read));
    DeleteFileA(path.c_str());
}
#endif

TEST(seenKeysKeepTheNewest2000ThoseOnShowLastAndReadBackOnlyWhole) {
    auto k = [](const std::string& text) { return keyHashOf(text.c_str()); };
    SeenKeys seen = {};
    CHECK(addSeenKey(&seen, k("first")));
    CHECK(!addSeenKey(&seen, k("first")));
    CHECK(!addSeenKey(&seen, 0));
    // The item on show ("k5") is refreshed; the oldest others go as the set fills.
    FeedList* shown = newFeedList(0);
    appendEntry(shown);
    appendEntry(shown)->key = k("k5");
    for (int i = 0; i < 2100; ++i) {
        addSeenKey(&seen, k("k" + std::to_string(i)));
        if (i % 100 == 99)
            keepSeenKeysOf(&seen, shown);
    }
    releaseFeedList(shown);
    CHECK_EQ(seen.count, 2000);
    CHECK(!hasSeenKey(&seen, k("first")) && !hasSeenKey(&seen, k("k4")) &&
          !hasSeenKey(&seen, k("k100")));
    CHECK(hasSeenKey(&seen, k("k5")) && hasSeenKey(&seen, k("k101")) &&
          hasSeenKey(&seen, k("k2099")));

    size_t length = 0;
    const char* url = "http://127.0.0.1/feed";
    char* bytes = encodeSeenKeys(&seen, url, &length);
    REQUIRE(bytes != nullptr);
    SeenKeys read = {};
    REQUIRE(decodeSeenKeys(bytes, length, url, &read));
    // Another feed's file is not read.
    SeenKeys other = {};
    CHECK(!decodeSeenKeys(bytes, length, "http://127.0.0.1/other", &other));
    CHECK_EQ(other.count, 0);
    CHECK_EQ(read.count, 2000);
    CHECK(hasSeenKey(&read, k("k5")) && hasSeenKey(&read, k("k2099")) &&
          !hasSeenKey(&read, k("k4")));
    // Cut or altered anywhere: refused, and what was read before stays.
    size_t accepted = 0;
    for (size_t at : {size_t(0), size_t(10), size_t(30), length / 2, length - 14, length - 2}) {
        accepted += decodeSeenKeys(bytes, at, url, &read);
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
        accepted += decodeSeenKeys(bytes, length, url, &read);
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    }
    CHECK_EQ(accepted, size_t(0));
    CHECK_EQ(read.count, 2000);
    std::free(bytes);
    freeSeenKeys(&read);
    freeSeenKeys(&seen);
}

TEST(aSeenKeysFileOfEarlierVersionsStillMarksTheSameItemsSeen) {
    // Written by a version that kept keys as texts: the item of guid "tag:large.example,2026:7"
    // and the one of link "http://127.0.0.1/news/8" (no guid) were seen.
    const char file[] = "FeedMarquee seen keys 1\n39079240fa33df29\n3da15f44e0cfb897\n"
                        "996b988193605eed\ncrc 1d3e4c38\n";
    SeenKeys seen = {};
    REQUIRE(decodeSeenKeys(file, sizeof file - 1, "http://127.0.0.1/feed", &seen));
    std::string document = "<rss><channel><title>F</title>"
                           "<item><title>A</title><link>http://127.0.0.1/news/7</link>"
                           "<guid isPermaLink=\"false\">tag:large.example,2026:7</guid></item>"
                           "<item><title>B</title><link>http://127.0.0.1/news/8</link></item>"
                           "<item><title>C</title><link>http://127.0.0.1/news/7</link>"
                           "<guid isPermaLink=\"false\">tag:large.example,2026:9</guid></item>"
                           "</channel></rss>";
    FeedList* list = parseFeed(&document[0], "http://127.0.0.1/feed");
    REQUIRE(itemCount(list) == 3);
    const FeedItem* a = firstItem(list);
    CHECK(hasSeenKey(&seen, a->key));
    CHECK(hasSeenKey(&seen, a->next->key));
    CHECK(!hasSeenKey(&seen, a->next->next->key));
    releaseFeedList(list);
    freeSeenKeys(&seen);
}
