// Memory of the headline lists as the shipped build holds them: the private bytes the process
// gains for 50 parsed feeds of 100 items each (as the engine keeps them, one shared list per
// feed), and per item of one 10 MB feed. Prints figures; asserts nothing. Run under Wine:
// scripts/wine-run.sh build/win32/list_memory_bench.exe
#include <windows.h>
#include <malloc.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_feed.h"
#include "content/feed_items.h"
#include "content/rss_parser.h"

namespace {

FeedList* parsed(const std::string& document) {
    std::vector<char> work(document.begin(), document.end());
    work.push_back('\0');
    return parseFeed(work.data(), "https://news.example.com/feed");
}

} // namespace

int main() {
    // 50 feeds of 100 items.
    std::vector<std::string> documents;
    for (int f = 0; f < 50; ++f)
        documents.push_back(benchFeedOf(100, f));
    size_t before = benchHeapInUse();
    std::vector<FeedList*> lists;
    size_t storage = 0;
    for (const std::string& document : documents) {
        lists.push_back(parsed(document));
        storage += lists.back()->blockBytes;
    }
    size_t after = benchHeapInUse();
    std::printf("100-item feed: %zu bytes of list storage (%zu of document), %.1f KB of heap "
                "each over 50 feeds\n",
                storage / 50, documents[0].size(), (after - before) / 50.0 / 1024.0);
    for (FeedList* list : lists)
        releaseFeedList(list);

    // One 10 MB feed.
    std::string big = benchFeedOf(1, 0);
    big.erase(big.rfind("</channel>"));
    std::string items = benchFeedOf(25000, 1);
    items = items.substr(items.find("<item>"), items.rfind("</channel>") - items.find("<item>"));
    while (big.size() < 10u * 1024 * 1024)
        big += items;
    big += "</channel></rss>\n";
    before = benchHeapInUse();
    FeedList* list = parsed(big);
    after = benchHeapInUse();
    std::printf("10 MB feed: %d items, %.0f bytes/item of list storage, %.0f bytes/item of heap\n",
                list->count - 1, static_cast<double>(list->blockBytes) / (list->count - 1),
                static_cast<double>(after - before) / (list->count - 1));
    releaseFeedList(list);
    return 0;
}
