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

#include "content/feed_items.h"
#include "content/rss_parser.h"

namespace {

// A feed of count items shaped like a news site's: a title, a link, a guid, a date and a
// paragraph of description with some markup.
std::string feedOf(int count, int salt) {
    std::string text = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Site " +
                       std::to_string(salt) + "</title><link>https://news.example.com/</link>\n";
    char item[1024];
    for (int i = 0; i < count; ++i) {
        std::snprintf(item, sizeof item,
                      "<item><title>Council agrees on the harbour plan, story %d of feed %d</title>"
                      "<link>https://news.example.com/2026/12/08/harbour-plan-%d-%d.html</link>"
                      "<guid>https://news.example.com/?p=%d%d</guid>"
                      "<pubDate>Tue, 08 Dec 2026 14:%02d:00 GMT</pubDate><description>&lt;p&gt;"
                      "The council met on Tuesday to discuss the plan for the old harbour; a "
                      "decision is expected next week after a public hearing at the town "
                      "hall.&lt;/p&gt;</description></item>\n",
                      i, salt, i, salt, salt, i, i % 60);
        text += item;
    }
    return text + "</channel></rss>\n";
}

// The bytes of the C runtime's heap in use (a walk over its blocks): what the lists cost the
// process, allocation overhead included.
size_t privateBytes() {
    _HEAPINFO info = {};
    size_t used = 0;
    while (_heapwalk(&info) == _HEAPOK)
        if (info._useflag == _USEDENTRY)
            used += info._size;
    return used;
}

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
        documents.push_back(feedOf(100, f));
    size_t before = privateBytes();
    std::vector<FeedList*> lists;
    size_t storage = 0;
    for (const std::string& document : documents) {
        lists.push_back(parsed(document));
        storage += lists.back()->blockBytes;
    }
    size_t after = privateBytes();
    std::printf("100-item feed: %zu bytes of list storage (%zu of document), %.1f KB of heap "
                "each over 50 feeds\n",
                storage / 50, documents[0].size(), (after - before) / 50.0 / 1024.0);
    for (FeedList* list : lists)
        releaseFeedList(list);

    // One 10 MB feed.
    std::string big = feedOf(1, 0);
    big.erase(big.rfind("</channel>"));
    std::string items = feedOf(25000, 1);
    items = items.substr(items.find("<item>"), items.rfind("</channel>") - items.find("<item>"));
    while (big.size() < 10u * 1024 * 1024)
        big += items;
    big += "</channel></rss>\n";
    before = privateBytes();
    FeedList* list = parsed(big);
    after = privateBytes();
    std::printf("10 MB feed: %d items, %.0f bytes/item of list storage, %.0f bytes/item of heap\n",
                list->count - 1, static_cast<double>(list->blockBytes) / (list->count - 1),
                static_cast<double>(after - before) / (list->count - 1));
    releaseFeedList(list);
    return 0;
}
