// Parses one saved feed response (a file) with parseFeed over and over and prints its throughput;
// built in both builds, so that scripts/bench.sh can set the shipped Windows build under Wine
// beside the native one on the very same document. Each timed run parses a fresh copy of the
// document (parseFeed cuts it in place); the copying is not timed. A file whose name ends in
// ".json" is read by the JSON Feed reader instead. Prints one line:
//   parseFeed MB/s: X (median of N runs, D bytes)
//   usage: parse_file_bench FILE [SECONDS]
#include "content/feed_items.h"
#include "content/json_feed.h"
#include "content/rss_parser.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: parse_file_bench FILE [SECONDS]\n");
        return 2;
    }
    double budget = argc > 2 ? std::atof(argv[2]) : 2.0;
    FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "parse_file_bench: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<char> document;
    char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0)
        document.insert(document.end(), block, block + n);
    std::fclose(file);
    document.push_back('\0');
    std::vector<char> work(document.size());
    size_t nameLength = std::strlen(argv[1]);
    bool json = nameLength > 5 && std::strcmp(argv[1] + nameLength - 5, ".json") == 0;

    using Clock = std::chrono::steady_clock;
    std::vector<double> samples;
    auto begin = Clock::now();
    int32_t entries = 0;
    while (samples.size() < 5 ||
           (std::chrono::duration<double>(Clock::now() - begin).count() < budget &&
            samples.size() < 200)) {
        std::memcpy(work.data(), document.data(), document.size());
        auto start = Clock::now();
        FeedList* list =
            json ? parseJsonFeed(work.data(), document.size() - 1, "http://news.example.com/")
                 : parseFeed(work.data(), "http://news.example.com/rss.xml");
        entries = list != nullptr ? static_cast<int32_t>(list->count) : 0;
        releaseFeedList(list);
        samples.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    double median = samples[samples.size() / 2];
    std::printf("parseFeed MB/s: %.1f (median of %zu runs, %zu bytes, %d entries)\n",
                static_cast<double>(document.size() - 1) / median / 1e6, samples.size(),
                document.size() - 1, static_cast<int>(entries));
    return 0;
}
