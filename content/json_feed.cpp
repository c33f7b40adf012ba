// JSON Feed through RapidJSON's event reader: the document is read once, in place, and only the
// values an entry needs are looked at; no tree of the document is built, so a large or hostile
// document costs no memory beyond its own bytes. Nesting is bounded (a feed needs four levels),
// which also bounds the reader's own work on a body of nothing but brackets.
#include "content/json_feed.h"

#include <cstdlib>
#include <cstring>

#include <rapidjson/reader.h>

#include "content/byte_scan.h"
#include "content/feed_items.h"
#include "content/description_source.h"
#include "content/json_repair.h"
#include "content/key_hash.h"
#include "content/stored_date.h"
#include "content/stored_link.h"
#include "content/rss_parser.h"
#include "content/text_decoding.h"
#include "content/url_resolve.h"

namespace {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Where a value stands in the document (read in place: zero-terminated there too).
struct Span {
    const char* text; // null: absent
    size_t length;
};

// ---- Entries ----------------------------------------------------------------------------------
// The entries are made only here, so that a change to how the list holds them touches two
// functions.

// Appends an entry with copies of the four texts (each may be null) and its key's hash: of key (a
// text of the document, may be null), else of its link, else of its title. Null when memory runs
// out.
FeedItem* addEntry(FeedList* list, const char* title, const char* link, const char* description,
                   const char* date, const Span& key, int32_t index) {
    FeedItem* entry = appendEntry(list);
    if (entry == nullptr)
        return nullptr;
    entry->titleLength = title != nullptr ? static_cast<int32_t>(std::strlen(title)) : 0;
    entry->title = listText(list, title, 0);
    entry->link = copyLink(list, link, true);
    entry->description = listText(list, description, 0);
    setItemDate(list, entry, date);
    entry->key = key.text != nullptr && key.length != 0
                     ? keyHashOf(key.text, key.length)
                     : keyHashOf(link != nullptr && link[0] != '\0' ? link : entry->title);
    entry->entryIndex = index;
    return entry;
}

// Gives the header entry copies of its title and link (either may be null).
void setHeader(FeedList* list, FeedItem* header, const char* title, const char* link) {
    header->titleLength = title != nullptr ? static_cast<int32_t>(std::strlen(title)) : 0;
    header->title = listText(list, title, 0);
    header->link = copyLink(list, link, false);
}

// ---- Texts ------------------------------------------------------------------------------------
// A value is made into the text an entry shows in place, in the document: each value is used
// once, and the list then copies it into its own storage, so no text is allocated on the way.

// Control characters (a "\u000b" in a title) show as nothing a reader could read: they count as
// blanks.
inline bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F;
}
inline bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// The value as plain text: each run of blanks, line breaks and control characters one blank, none
// at either end; null when nothing is left. With paragraphs (a description's text), a run that
// holds an empty line (two line breaks) ends a paragraph: it becomes one "\n".
const char* plainText(const Span& span, bool paragraphs = false) {
    if (span.text == nullptr)
        return nullptr;
    char* text = const_cast<char*>(span.text);
    size_t length = span.length;
    size_t start = 0;
    while (start < length && isBlankOrControl(text[start]))
        ++start;
    while (length > start && isBlankOrControl(text[length - 1]))
        --length;
    if (start == length)
        return nullptr;
    // Most values have single blanks and no control characters: those stand as they are.
    if (!hasControlOrDoubleBlank(text + start, text + length)) {
        text[length] = '\0';
        return text + start;
    }
    size_t n = 0;
    int lineBreaks = 0; // in the run of blanks being folded ("\r\n" is one)
    for (size_t i = start; i < length; ++i) {
        char c = text[i];
        if (isBlankOrControl(c)) {
            lineBreaks += c == '\n' || (c == '\r' && text[i + 1] != '\n');
            if (text[n - 1] == ' ' || text[n - 1] == '\n') {
                // the first byte kept is no blank, so n > 0 here
                if (paragraphs && lineBreaks >= 2)
                    text[n - 1] = '\n';
                continue;
            }
            c = ' ';
        } else {
            lineBreaks = 0;
        }
        text[n++] = c;
    }
    text[n] = '\0';
    return text;
}

// The plain text of an HTML value (without blanks at either end, single blanks inside); null when
// nothing is left. controls: the document escapes control characters, which become blanks.
const char* htmlText(const Span& span, bool controls) {
    if (span.text == nullptr)
        return nullptr;
    char* text = const_cast<char*>(span.text);
    size_t length = span.length;
    // Control characters become line breaks, folded with the white space around them (only a
    // document that escapes them can hold them).
    for (size_t i = 0; controls && i < length; ++i)
        if (isControl(text[i]))
            text[i] = '\n';
    length = descriptionToText(text, length, text, true);
    text[length] = '\0';
    return length != 0 ? text : nullptr;
}

// The address, resolved against base when it is relative (into a new text left in *resolved for
// the caller to free); kept as written when it cannot be resolved. Null when empty.
const char* linkText(const Span& span, const char* base, char** resolved) {
    const char* link = plainText(span);
    if (link == nullptr || base == nullptr || *base == '\0' || hasScheme(link))
        return link;
    // Resolution keeps the base's scheme and authority and adds at most a '/' to the reference.
    size_t size = std::strlen(base) + std::strlen(link) + 8;
    char* out = static_cast<char*>(std::malloc(size));
    if (out != nullptr && resolveUrl(base, link, out, size)) {
        *resolved = out;
        return out;
    }
    std::free(out);
    return link;
}

// ---- The reader's events ----------------------------------------------------------------------

enum Field {
    NoField,
    // the feed's own
    VersionField,
    FeedTitleField,
    HomePageField,
    ItemsField,
    // an item's
    IdField,
    TitleField,
    UrlField,
    ExternalUrlField,
    SummaryField,
    ContentTextField,
    ContentHtmlField,
    PublishedField,
    ModifiedField,
    FieldCount
};

struct FieldName {
    template <size_t N>
    constexpr FieldName(const char (&n)[N], Field f) : name(n), length(N - 1), field(f) {}
    const char* name;
    size_t length;
    Field field;
};
const FieldName feedFields[] = {{"version", VersionField},
                                {"title", FeedTitleField},
                                {"home_page_url", HomePageField},
                                {"items", ItemsField}};
const FieldName itemFields[] = {{"id", IdField},
                                {"title", TitleField},
                                {"url", UrlField},
                                {"external_url", ExternalUrlField},
                                {"summary", SummaryField},
                                {"content_text", ContentTextField},
                                {"content_html", ContentHtmlField},
                                {"date_published", PublishedField},
                                {"date_modified", ModifiedField}};

// Every key of the document is looked up here: a name is compared only when its length and first
// byte match.
template <size_t N> Field fieldNamed(const FieldName (&names)[N], const char* key, size_t length) {
    for (const FieldName& f : names)
        if (f.length == length && f.name[0] == key[0] && std::memcmp(f.name, key, length) == 0)
            return f.field;
    return NoField;
}

// Levels of nesting allowed: a feed needs four (the feed, its items, an item, its authors or
// attachments), extension objects may hold a few more; nothing real comes near this.
const int deepestLevel = 32;
// The levels at which the values read stand: the feed's own fields in the outermost object, the
// items' fields in the objects of the items array.
const int feedLevel = 1;
const int itemsLevel = 2;
const int itemLevel = 3;

struct FeedReader : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, FeedReader> {
    FeedList* list = nullptr;
    const char* base = nullptr;
    int depth = 0;           // containers open
    bool inItems = false;    // the open container at itemsLevel is the items array
    Field pending = NoField; // the field the next value belongs to
    Span values[FieldCount] = {};
    FeedItem* header = nullptr;
    int32_t created = 0;
    const JsonRepairs* repairs = nullptr;    // controls: a string read so far escapes one
    DescriptionSources* collected = nullptr; // each item's description source; null: not wanted

    bool Default() { // true, false, null: no field of ours
        pending = NoField;
        return true;
    }
    // Numbers come as their text (they are read as strings): an id may be a number, which is then
    // its text, as written ("1001"). No other field of ours is a number.
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        if (pending == IdField)
            values[IdField] = Span{text, length};
        pending = NoField;
        return true;
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        if (pending != NoField)
            values[pending] = Span{text, length};
        pending = NoField;
        return true;
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        if (depth == feedLevel)
            pending = fieldNamed(feedFields, text, length);
        else if (depth == itemLevel && inItems)
            pending = fieldNamed(itemFields, text, length);
        else
            pending = NoField;
        return true;
    }
    bool StartObject() {
        if (depth == itemsLevel && inItems)
            for (int f = IdField; f < FieldCount; ++f)
                values[f] = Span{nullptr, 0};
        pending = NoField;
        return ++depth <= deepestLevel;
    }
    bool EndObject(rapidjson::SizeType) {
        if (--depth == itemsLevel && inItems)
            finishItem();
        return true;
    }
    bool StartArray() {
        if (depth == 0)
            return false; // a feed is an object
        if (depth == feedLevel && pending == ItemsField) {
            inItems = true;
            // A feed with two items arrays is read as other readers read it: the last one counts.
            if (header != nullptr) {
                header->next = nullptr;
                list->last = header;
                list->count = 1;
                created = 1;
            }
        }
        pending = NoField;
        return ++depth <= deepestLevel;
    }
    bool EndArray(rapidjson::SizeType) {
        if (--depth == feedLevel)
            inItems = false;
        return true;
    }

    // A copy of a text as it stands (null for none); free() its text.
    static Span copiedSpan(const Span& span) {
        if (span.text == nullptr)
            return Span{nullptr, 0};
        size_t length = span.length;
        char* copy = static_cast<char*>(std::malloc(length + 1));
        if (copy == nullptr)
            return Span{nullptr, 0};
        std::memcpy(copy, span.text, length);
        copy[length] = '\0';
        return Span{copy, length};
    }

    // The header entry comes first, as in an XML feed; its texts are set once the whole feed is
    // read, as the feed's fields may follow its items.
    bool ensureHeader() {
        if (header == nullptr && (header = addEntry(list, nullptr, nullptr, nullptr, nullptr,
                                                    Span{nullptr, 0}, created)))
            ++created;
        return header != nullptr;
    }

    // The values end at their first zero byte (a "\u0000"), which only an escaped control
    // character can be.
    void cutValuesAtZero() {
        if (repairs->controls)
            for (Span& value : values)
                if (value.text != nullptr)
                    value.length = strnlen(value.text, value.length);
    }

    // An item's entry: its title, else the start of its text, else its address; an item with
    // none of them is skipped. The text: summary, else content_text, else content_html as plain
    // text; the address: url, else external_url; the date: date_published, else date_modified.
    void finishItem() {
        cutValuesAtZero();
        char* resolved = nullptr;
        const char* link = linkText(values[UrlField], base, &resolved);
        if (link == nullptr)
            link = linkText(values[ExternalUrlField], base, &resolved);
        // Collecting sources, the texts are copied before they are made plain text in place.
        Span sources[3] = {};
        if (collected != nullptr) {
            sources[0] = copiedSpan(values[SummaryField]);
            sources[1] = copiedSpan(values[ContentTextField]);
            sources[2] = copiedSpan(values[ContentHtmlField]);
        }
        int described = 0;
        const char* description = plainText(values[SummaryField], true);
        if (description == nullptr) {
            described = 1;
            description = plainText(values[ContentTextField], true);
        }
        if (description == nullptr) {
            described = 2;
            description = htmlText(values[ContentHtmlField], repairs->controls);
        }
        const char* title = plainText(values[TitleField]);
        char* untitled = nullptr;
        if (title == nullptr) {
            untitled = titleFromDescription(description);
            title = untitled != nullptr ? untitled : link;
        }
        const char* date = plainText(values[PublishedField]);
        if (date == nullptr)
            date = plainText(values[ModifiedField]);
        FeedItem* entry = nullptr;
        if (title != nullptr && ensureHeader())
            entry = addEntry(list, title, link, description, date, values[IdField], created);
        if (entry != nullptr) {
            if (collected != nullptr)
                collectDescriptionSource(
                    collected, entry, description != nullptr ? sources[described].text : nullptr,
                    sources[described].length, described == 2 ? RawHtml : PlainText);
            ++created;
        }
        for (Span& source : sources)
            std::free(const_cast<char*>(source.text));
        std::free(untitled);
        std::free(resolved);
    }
};

// Whether the version names JSON Feed ("https://jsonfeed.org/version/1.1").
bool namesJsonFeed(const Span& version) {
    static const char mark[] = "jsonfeed.org/version/";
    const size_t n = sizeof mark - 1;
    if (version.text == nullptr || version.length < n)
        return false;
    for (size_t i = 0; i + n <= version.length; ++i)
        if (std::memcmp(version.text + i, mark, n) == 0)
            return true;
    return false;
}

// Whether the Content-Type's media type is one of JSON's.
bool isJsonType(const char* contentType) {
    if (contentType == nullptr)
        return false;
    while (isBlank(*contentType))
        ++contentType;
    static const char* const types[] = {"application/feed+json", "application/json"};
    for (const char* type : types) {
        size_t n = std::strlen(type);
        size_t i = 0;
        while (i < n && contentType[i] != '\0' && (contentType[i] | 0x20) == (type[i] | 0x20))
            ++i;
        if (i == n && (contentType[n] == '\0' || contentType[n] == ';' || isBlank(contentType[n])))
            return true;
    }
    return false;
}

} // namespace

bool isJsonDocument(const char* body, size_t length, const char* contentType) {
    if (body == nullptr)
        return false;
    size_t i = 0;
    if (length >= 3 && std::memcmp(body, "\xEF\xBB\xBF", 3) == 0)
        i = 3;
    while (i < length && isBlank(body[i]))
        ++i;
    if (i < length && body[i] == '{')
        return true;
    return isJsonType(contentType) && (i == length || body[i] != '<');
}

FeedList* parseJsonFeed(char* document, size_t length, const char* baseUrl,
                        DescriptionSources* sources) {
    // The texts are the document less its names and punctuation: half its size is a fair guess.
    FeedList* list = newFeedList(length / 2);
    if (list == nullptr || document == nullptr)
        return list;
    if (length >= 3 && std::memcmp(document, "\xEF\xBB\xBF", 3) == 0) {
        document += 3;
        length -= 3;
    }

    // What other readers accept is repaired on the way (content/json_repair.h).
    JsonRepairs repairs = {document + length, false};
    FeedReader reader;
    reader.repairs = &repairs;
    reader.list = list;
    reader.collected = sources;
    reader.base = baseUrl != nullptr && *baseUrl != '\0' ? baseUrl : nullptr;
    rapidjson::Reader json;
    JsonRepairStream stream(document, &repairs);
    // The reader descends into a nested value by recursion, but only after the handler has let the
    // value start, so the depth bound above is also the bound of the recursion. Comments and
    // trailing commas, which hand-written feeds have, are let through.
    const unsigned flags = rapidjson::kParseInsituFlag | rapidjson::kParseCommentsFlag |
                           rapidjson::kParseTrailingCommasFlag | rapidjson::kParseStopWhenDoneFlag |
                           rapidjson::kParseNumbersAsStringsFlag;
    bool read = !json.Parse<flags>(stream, reader).IsError();
    if (!read || !namesJsonFeed(reader.values[VersionField])) {
        // Bad JSON, or JSON that is no feed: nothing of it is shown.
        releaseFeedList(list);
        return newFeedList(0);
    }
    reader.cutValuesAtZero();
    char* resolved = nullptr;
    const char* title = plainText(reader.values[FeedTitleField]);
    const char* link = linkText(reader.values[HomePageField], reader.base, &resolved);
    if ((title != nullptr || link != nullptr) && reader.ensureHeader())
        setHeader(list, reader.header, title, link);
    std::free(resolved);
    return list;
}
