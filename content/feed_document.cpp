// The entries keep copies of their texts, so a converted document is freed right after the parse.
#include "content/feed_document.h"

#include <cstdlib>

#include "content/charset.h"
#include "content/json_feed.h"
#include "content/rss_parser.h"

FeedList* parseFeedBody(char* body, size_t length, const char* contentType, const char* baseUrl,
                        bool convertCharset, DescriptionSources* sources) {
    size_t convertedLength = 0;
    char* converted = convertCharset && body
                          ? convertToUtf8(body, length, contentType, &convertedLength)
                          : nullptr;
    char* document = converted ? converted : body;
    size_t documentLength = converted ? convertedLength : length;
    FeedList* list = isJsonDocument(document, documentLength, contentType)
                         ? parseJsonFeed(document, documentLength, baseUrl, sources)
                         : parseFeed(document, baseUrl, sources);
    std::free(converted);
    return list;
}
