// The entries keep copies of their texts, so a converted document is freed right after the parse.
#include "content/feed_document.h"

#include <cstdlib>

#include "content/charset.h"
#include "content/rss_parser.h"

FeedList* parseFeedBody(char* body, size_t length, const char* contentType, const char* baseUrl,
                        bool convertCharset) {
    size_t convertedLength = 0;
    char* converted = convertCharset && body
                          ? convertToUtf8(body, length, contentType, &convertedLength)
                          : nullptr;
    FeedList* list = parseFeed(converted ? converted : body, baseUrl);
    std::free(converted);
    return list;
}
