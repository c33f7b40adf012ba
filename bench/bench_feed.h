// What the memory benchmarks share: a news-shaped feed document and the C runtime's heap in use.
// Windows only (the heap walk is the MSVC runtime's).
#pragma once
#include <malloc.h>
#include <cstdio>
#include <string>

// A feed of count items shaped like a news site's: a title, a link, a guid, a date and a
// paragraph of description with some markup. salt makes each feed's texts its own.
inline std::string benchFeedOf(int count, int salt) {
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

// The bytes of the C runtime's heap in use (a walk over its blocks): what the process holds,
// allocation overhead included.
inline size_t benchHeapInUse() {
    _HEAPINFO info = {};
    size_t used = 0;
    while (_heapwalk(&info) == _HEAPOK)
        if (info._useflag == _USEDENTRY)
            used += info._size;
    return used;
}
