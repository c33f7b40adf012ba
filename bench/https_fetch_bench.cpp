// Fetch-and-parse speed of fetchFeed under Wine: a 1 MB and a 10 MB feed over https and over
// http, each plain and gzip-compressed, from the loopback server of scripts/bench-https.sh, next
// to the times native curl took for the same addresses in the same run (passed in by the script).
// Prints MB/s of each, the peak memory of the 10 MB https pass and the ratios; the last line is
//   https fetch/curl ratio on 10 MB: R
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

// One fetch and parse of url; the time taken, or a negative value when it failed.
double fetchAndParse(const std::string& url, int* entries) {
    volatile LONG never = 0;
    FetchRequest request = {url.c_str(), nullptr, nullptr, &never};
    FetchResult result;
    double started = seconds();
    bool ok = fetchFeed(&request, &result);
    if (ok && result.body) {
        freeFetchList();
        parseFeed(result.body, result.finalUrl);
    }
    double took = seconds() - started;
    if (!ok)
        std::fprintf(stderr, "%s: %s\n", url.c_str(), result.reason);
    *entries = entryCount;
    freeFetchResult(&result);
    freeFetchList();
    return ok ? took : -1;
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

    double median[caseCount] = {};
    size_t peakAfterHttps10 = 0;
    std::printf("%-20s %8s %10s %10s %10s %8s\n", "feed", "entries", "fetchFeed", "MB/s",
                "curl MB/s", "ratio");
    for (int c = 0; c < caseCount; ++c) {
        std::string url = (cases[c].https ? https : http) + cases[c].path;
        std::vector<double> times;
        int entries = 0;
        for (int r = 0; r < rounds; ++r) {
            double took = fetchAndParse(url, &entries);
            if (took < 0)
                return 1;
            times.push_back(took);
        }
        if (c == 0)
            peakAfterHttps10 = peakMemory();
        std::sort(times.begin(), times.end());
        median[c] = times[times.size() / 2];
        double rate = cases[c].megabytes / median[c];
        double curlRate = curl[c] > 0 ? cases[c].megabytes / curl[c] : 0;
        std::printf("%-20s %8d %9.3fs %10.1f %10.1f %8.2f\n", cases[c].label, entries, median[c],
                    rate, curlRate, curlRate > 0 ? rate / curlRate : 0);
    }
    std::printf("peak memory after the 10 MB https pass: %.1f MB\n", peakAfterHttps10 / 1048576.0);
    std::printf("https/http time ratio on 10 MB: %.2f\n", median[0] / median[4]);
    std::printf("https fetch/curl ratio on 10 MB: %.2f\n", curl[0] > 0 ? curl[0] / median[0] : 0);
    WSACleanup();
    return 0;
}
