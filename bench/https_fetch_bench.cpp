// Fetch-and-parse speed of fetchFeed under Wine: a 1 MB and a 10 MB feed over https and over
// http, each plain and gzip-compressed, from the loopback server of scripts/bench-https.sh, next
// to the times native curl took for the same addresses in the same run (passed in by the script).
// Prints MB/s (10^6 bytes of decoded feed per second) of the fetch, the parse and both, curl's,
// the peak memory of the 10 MB https pass and the ratios; the last line is
//   https fetch/curl ratio on 10 MB: R
// with R fetchFeed's throughput over curl's for the 10 MB feed over https (both fetch only).
// usage: https_fetch_bench HTTP_PORT HTTPS_PORT ROUNDS [CURL_SECONDS x 8]
//   (curl's times in the order of the table below; 0 where curl was not run)
#include <winsock.h>
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "content/feed_items.h"
#include "content/rss_parser.h"
#include "feed/fetch.h"

namespace {

struct Case {
    const char* label;
    bool https;
    const char* path;
    double megabytes; // of the decoded feed
};

// The 10 MB https case comes first, so that the process's peak memory after it is its own.
const Case cases[] = {
    {"https 10 MB", true, "/10.xml", 10}, {"https 10 MB gzip", true, "/10.xml.gz", 10},
    {"https 1 MB", true, "/1.xml", 1},    {"https 1 MB gzip", true, "/1.xml.gz", 1},
    {"http 10 MB", false, "/10.xml", 10}, {"http 10 MB gzip", false, "/10.xml.gz", 10},
    {"http 1 MB", false, "/1.xml", 1},    {"http 1 MB gzip", false, "/1.xml.gz", 1},
};
const int caseCount = sizeof cases / sizeof cases[0];

double seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

size_t peakMemory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

// One fetch and parse of url: the seconds each took; false when the fetch failed.
bool fetchAndParse(const std::string& url, double* fetchSeconds, double* parseSeconds,
                   int* entries) {
    volatile LONG never = 0;
    FetchRequest request = {url.c_str(), nullptr, nullptr, &never, nullptr};
    FetchResult result;
    double started = seconds();
    bool ok = fetchFeed(&request, &result);
    double fetched = seconds();
    FeedList* list = nullptr;
    if (ok && result.body)
        list = parseFeed(result.body, result.finalUrl);
    *fetchSeconds = fetched - started;
    *parseSeconds = seconds() - fetched;
    if (!ok)
        std::fprintf(stderr, "%s: %s\n", url.c_str(), result.reason);
    *entries = list != nullptr ? list->count : 0;
    freeFetchResult(&result);
    releaseFeedList(list);
    return ok;
}

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: https_fetch_bench HTTP_PORT HTTPS_PORT ROUNDS [CURL x 8]\n");
        return 2;
    }
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    std::string http = std::string("http://localhost:") + argv[1];
    std::string https = std::string("https://localhost:") + argv[2];
    int rounds = std::max(1, std::atoi(argv[3]));
    double curl[caseCount] = {};
    for (int i = 0; i < caseCount && 4 + i < argc; ++i)
        curl[i] = std::atof(argv[4 + i]);

    double fetchMedian[caseCount] = {};
    size_t peakAfterHttps10 = 0;
    std::printf("%-18s %7s %9s %9s %11s %9s %10s %6s\n", "feed (MB/s)", "entries", "fetch",
                "parse", "fetch+parse", "curl", "fetch/curl", "");
    for (int c = 0; c < caseCount; ++c) {
        std::string url = (cases[c].https ? https : http) + cases[c].path;
        std::vector<double> fetchTimes, parseTimes, totalTimes;
        int entries = 0;
        for (int r = 0; r < rounds; ++r) {
            double fetchSeconds = 0, parseSeconds = 0;
            if (!fetchAndParse(url, &fetchSeconds, &parseSeconds, &entries))
                return 1;
            fetchTimes.push_back(fetchSeconds);
            parseTimes.push_back(parseSeconds);
            totalTimes.push_back(fetchSeconds + parseSeconds);
        }
        if (c == 0)
            peakAfterHttps10 = peakMemory();
        double size = cases[c].megabytes;
        fetchMedian[c] = medianOf(fetchTimes);
        double curlRate = curl[c] > 0 ? size / curl[c] : 0;
        std::printf("%-18s %7d %9.1f %9.1f %11.1f %9.1f %10.2f\n", cases[c].label, entries,
                    size / fetchMedian[c], size / medianOf(parseTimes),
                    size / medianOf(totalTimes), curlRate,
                    curlRate > 0 ? size / fetchMedian[c] / curlRate : 0);
    }
    std::printf("peak memory after the 10 MB https pass: %.1f MB\n",
                peakAfterHttps10 / 1048576.0);
    std::printf("https/http fetch time ratio on 10 MB: %.2f\n", fetchMedian[0] / fetchMedian[4]);
    std::printf("https fetch/curl ratio on 10 MB: %.2f\n",
                curl[0] > 0 ? curl[0] / fetchMedian[0] : 0);
    WSACleanup();
    return 0;
}
