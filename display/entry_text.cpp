// UTF-16 texts for painting, kept per laid-out position. A position remembers the bytes its texts
// were made from (a copy, not the entry's pointers: a new DisplayList may well reuse the old
// addresses for other texts), so a repaint compares bytes and converts nothing.
#include "display/entry_text.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "content/stored_date.h"
#include "content/text_decoding.h"
#include "content/utf8_ansi.h"

namespace {

struct CachedText {
    char* source; // the first bytes of the text it was made from (at most drawnTextLimit)
    size_t sourceLength;
    wchar_t* wide;
};

struct PositionTexts {
    bool utf8;    // the conversion the texts were made with
    int dateForm; // the date form: 0 as written, 1 shortened, 2 shortened in local time
    CachedText title;
    CachedText description;
    CachedText date;
    CachedText feedName;
};

PositionTexts* positions = nullptr; // zero-filled records; positionCount of them
size_t positionCount = 0;

void release(CachedText& cached) {
    free(cached.source);
    free(cached.wide);
    cached = CachedText{};
}

void releasePosition(PositionTexts& texts) {
    release(texts.title);
    release(texts.description);
    release(texts.date);
    release(texts.feedName);
}

// True when cached was made from text (both null counts too). Only the bytes up to the limit
// count: the rest is never drawn.
bool holds(const CachedText& cached, const char* text) {
    if (text == nullptr || cached.source == nullptr)
        return text == nullptr && cached.source == nullptr;
    if (strncmp(cached.source, text, cached.sourceLength) != 0)
        return false;
    return text[cached.sourceLength] == '\0' || cached.sourceLength == drawnTextLimit;
}

// Makes cached hold text converted; left empty (and tried again next time) when memory runs out.
void make(CachedText& cached, const char* text, bool utf8, int dateForm) {
    release(cached);
    if (text == nullptr)
        return;
    size_t length = strnlen(text, drawnTextLimit);
    cached.source = static_cast<char*>(malloc(length + 1));
    if (cached.source == nullptr)
        return;
    memcpy(cached.source, text, length);
    cached.source[length] = '\0';
    cached.sourceLength = length;
    char* shortened = dateForm != 0 ? shownDateBytes(text, true, dateForm == 2) : nullptr;
    cached.wide = shortened != nullptr ? bytesToWide(shortened, drawnTextLimit, utf8)
                                       : bytesToWide(text, drawnTextLimit, utf8);
    free(shortened);
    if (cached.wide == nullptr)
        release(cached);
}

void refresh(CachedText& cached, const char* text, bool utf8, int dateForm) {
    if (!holds(cached, text) || (text != nullptr && cached.wide == nullptr))
        make(cached, text, utf8, dateForm);
}

bool reserve(WideText& out, size_t wanted) {
    if (wanted < out.capacity)
        return true;
    size_t capacity = out.capacity != 0 ? out.capacity : 64;
    while (capacity <= wanted)
        capacity *= 2;
    wchar_t* grown = static_cast<wchar_t*>(realloc(out.text, capacity * sizeof(wchar_t)));
    if (grown == nullptr)
        return false;
    out.text = grown;
    out.capacity = capacity;
    return true;
}

} // namespace

char* shownDateBytes(const char* date, bool abbreviated, bool localTime) {
    return abbreviated && date != nullptr ? abbreviateDate(date, localTime) : nullptr;
}

void clearText(WideText& out) {
    out.length = 0;
    if (out.text != nullptr)
        out.text[0] = L'\0';
}

void appendWide(WideText& out, const wchar_t* text, size_t limit) {
    if (text == nullptr)
        return;
    size_t length = 0;
    while (length < limit && text[length] != L'\0')
        ++length;
    if (!reserve(out, out.length + length))
        return;
    wmemcpy(out.text + out.length, text, length);
    out.length += length;
    out.text[out.length] = L'\0';
}

void appendAnsi(WideText& out, const char* text) {
    wchar_t* wide = bytesToWide(text, drawnTextLimit, false);
    appendWide(out, wide);
    free(wide);
}

const wchar_t* textOf(const WideText& out) {
    return out.text != nullptr ? out.text : L"";
}

void releaseText(WideText& out) {
    free(out.text);
    out = WideText{};
}

EntryTexts textsAt(size_t position, const FeedItem* entry, const char* feedName, bool utf8,
                   bool abbreviated, bool localTime) {
    if (position >= positionCount) {
        size_t count = position + 1 > positionCount * 2 ? position + 1 : positionCount * 2;
        PositionTexts* grown =
            static_cast<PositionTexts*>(realloc(positions, count * sizeof(PositionTexts)));
        if (grown == nullptr)
            return EntryTexts{nullptr, nullptr, nullptr, nullptr};
        memset(grown + positionCount, 0, (count - positionCount) * sizeof(PositionTexts));
        positions = grown;
        positionCount = count;
    }
    PositionTexts& texts = positions[position];
    int dateForm = abbreviated ? (localTime ? 2 : 1) : 0;
    if (texts.utf8 != utf8) {
        releasePosition(texts);
        texts.utf8 = utf8;
    }
    if (texts.dateForm != dateForm) {
        release(texts.date);
        texts.dateForm = dateForm;
    }
    refresh(texts.title, entry->title, utf8, 0);
    refresh(texts.description, entry->description, utf8, 0);
    DateText date;
    refresh(texts.date, itemDate(entry, &date), utf8, dateForm);
    refresh(texts.feedName, feedName, utf8, 0);
    return EntryTexts{texts.title.wide, texts.description.wide, texts.date.wide,
                      texts.feedName.wide};
}

void forgetTextsFrom(size_t first) {
    for (size_t i = first; i < positionCount; ++i)
        releasePosition(positions[i]);
    if (first == 0) {
        free(positions);
        positions = nullptr;
        positionCount = 0;
    }
}
