// A date held as parts packs, in 64 bits: bit 63 set (a text's address never has it), bit 62 the
// form (0 "Tue, 08 Dec 2026 21:38:00 GMT", 1 "2026-12-08T21:38:00Z"), then from bit 0 the year
// less 1900 (8 bits), month (4), day (5), hour (5), minute (6), second (6), and from bit 34 what
// the form writes besides:
//   words:   weekday written (1), weekday (3), day in two digits (1), seconds written (1), zone
//            (4: an offset, GMT, UT, UTC, Z, or a US zone name), offset sign, hours, minutes
//            (1+5+6)
//   numeric: 'T' (else a blank) between date and time (1), seconds written (1), fraction digits
//            (2) and value (10), zone (2: none, Z, "+01:00", "+0100"), offset sign, hours, minutes
// Every field is read at the width it is written again (two-digit fields as two digits, names
// with their case) and only within its bits, so a date read whole, to its last byte, comes back
// byte for byte: what is shown never changes.
#include "content/stored_date.h"

#include <cstdint>
#include <cstring>

namespace {

const uint64_t heldAsParts = 1ull << 63;
const uint64_t numericForm = 1ull << 62;

const char weekdayNames[] = "MonTueWedThuFriSatSun";
const char monthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
const char* const zoneNames[] = {"",    "GMT", "UT",  "UTC", "Z",   "EST", "EDT",
                                 "CST", "CDT", "MST", "MDT", "PST", "PDT"};
const unsigned zoneCount = sizeof zoneNames / sizeof zoneNames[0];

struct Field {
    unsigned at, width;
};
const Field yearField = {0, 8}, monthField = {8, 4}, dayField = {12, 5}, hourField = {17, 5},
            minuteField = {22, 6}, secondField = {28, 6};
// The form written in words.
const Field weekdayWritten = {34, 1}, weekdayField = {35, 3}, twoDigitDay = {38, 1},
            wordSeconds = {39, 1}, zoneField = {40, 4}, wordOffset = {44, 12};
// The numeric form.
const Field tSeparator = {34, 1}, numericSeconds = {35, 1}, fractionDigits = {36, 2},
            fractionField = {38, 10}, numericZone = {48, 2}, numericOffset = {50, 12};

unsigned get(uint64_t bits, Field f) {
    return static_cast<unsigned>((bits >> f.at) & ((1ull << f.width) - 1));
}
// False when value does not fit the field.
bool put(uint64_t& bits, Field f, unsigned value) {
    if (value >= (1u << f.width))
        return false;
    bits |= static_cast<uint64_t>(value) << f.at;
    return true;
}

// Reads n digits at p into *value.
bool digits(const char*& p, int n, unsigned* value) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i, ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(*p - '0');
    }
    *value = v;
    return true;
}

bool literal(const char*& p, char c) {
    if (*p != c)
        return false;
    ++p;
    return true;
}

// The index of the three letters at p among the names (a run of three-letter names), or -1. A
// small hash of the letters picks the one name they can be, which is then compared: a loop over
// the names would cost a mispredicted branch at nearly every date.
inline unsigned letter(const char* p, int i) {
    return static_cast<unsigned char>(p[i]);
}
int nameAt(const char* p, const char* names, const signed char* slots, unsigned slot) {
    int i = slots[slot];
    if (i < 0)
        return -1;
    const char* name = names + 3 * i;
    return p[0] == name[0] && p[1] == name[1] && p[2] == name[2] ? i : -1;
}
int monthIndex(const char* p) {
    static const signed char slots[16] = {8, 2, 4, -1, 7, 11, 3, 1, 9, -1, 6, 5, 10, -1, -1, 0};
    if (p[0] == '\0' || p[1] == '\0')
        return -1;
    return nameAt(p, monthNames, slots,
                  ((letter(p, 0) * 5 + letter(p, 1) * 24 + letter(p, 2)) >> 3) & 15);
}
int weekdayIndex(const char* p) {
    static const signed char slots[8] = {3, 1, 2, 0, 4, 6, 5, -1};
    if (p[0] == '\0' || p[1] == '\0')
        return -1;
    return nameAt(p, weekdayNames, slots,
                  ((letter(p, 0) + letter(p, 1) * 5 + letter(p, 2)) >> 1) & 7);
}

// Whether p is exactly name.
bool isExactly(const char* p, const char* name) {
    while (*name != '\0' && *p == *name)
        ++p, ++name;
    return *p == *name;
}

// An offset: sign, hours and minutes in 12 bits, "+0100", or "+01:00" where colon is not null
// (which then tells whether it was written).
bool readOffset(const char*& p, bool* colon, uint64_t& bits, Field f) {
    if (*p != '+' && *p != '-')
        return false;
    unsigned sign = *p++ == '-', hours = 0, minutes = 0;
    if (!digits(p, 2, &hours))
        return false;
    if (colon != nullptr)
        *colon = literal(p, ':');
    if (!digits(p, 2, &minutes) || hours >= 32 || minutes >= 64)
        return false;
    return put(bits, f, sign | hours << 1 | minutes << 6);
}

// "21:38" or "21:38:00", noting in secondsWritten which.
bool readTime(const char*& p, uint64_t& bits, Field secondsWritten, unsigned* hour,
              unsigned* minute, unsigned* second) {
    if (!digits(p, 2, hour) || !literal(p, ':') || !digits(p, 2, minute))
        return false;
    if (*p == ':') {
        ++p;
        if (!digits(p, 2, second))
            return false;
        put(bits, secondsWritten, 1);
    }
    return true;
}

// The common parts: the year from 1900 to 2155, the rest within their fields.
bool putCommon(uint64_t& bits, unsigned year, unsigned month, unsigned day, unsigned hour,
               unsigned minute, unsigned second) {
    return year >= 1900 && put(bits, yearField, year - 1900) && put(bits, monthField, month) &&
           put(bits, dayField, day) && put(bits, hourField, hour) &&
           put(bits, minuteField, minute) && put(bits, secondField, second);
}

// "[Tue, ]08 Dec 2026 21:38[:00] GMT" or with an offset "+0100" that ends at end (the text is
// zero-terminated there); 0 when it is not that.
uint64_t readWords(const char* p, const char* end) {
    uint64_t bits = heldAsParts;
    int weekday = weekdayIndex(p);
    if (weekday >= 0) {
        p += 3;
        if (!literal(p, ',') || !literal(p, ' '))
            return 0;
        put(bits, weekdayWritten, 1);
        put(bits, weekdayField, static_cast<unsigned>(weekday));
    }
    unsigned day = 0, year = 0, hour = 0, minute = 0, second = 0;
    bool twoDigits = p[0] >= '0' && p[0] <= '9' && p[1] >= '0' && p[1] <= '9';
    if (!digits(p, twoDigits ? 2 : 1, &day) || !literal(p, ' '))
        return 0;
    put(bits, twoDigitDay, twoDigits);
    int month = monthIndex(p);
    if (month < 0)
        return 0;
    p += 3;
    if (!literal(p, ' ') || !digits(p, 4, &year) || !literal(p, ' ') ||
        !readTime(p, bits, wordSeconds, &hour, &minute, &second) || !literal(p, ' ') ||
        !putCommon(bits, year, static_cast<unsigned>(month) + 1, day, hour, minute, second))
        return 0;
    if (*p == '+' || *p == '-')
        return readOffset(p, nullptr, bits, wordOffset) && p == end ? bits : 0;
    for (unsigned zone = 1; zone < zoneCount; ++zone)
        if (isExactly(p, zoneNames[zone]))
            return put(bits, zoneField, zone) && p + std::strlen(zoneNames[zone]) == end ? bits : 0;
    return 0;
}

// "2026-12-08T21:38[:00[.123]][Z|+01:00|+0100]", a blank for the 'T', that ends at end (the text
// is zero-terminated there); 0 when it is not that.
uint64_t readNumeric(const char* p, const char* end) {
    uint64_t bits = heldAsParts | numericForm;
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(p, 4, &year) || !literal(p, '-') || !digits(p, 2, &month) || !literal(p, '-') ||
        !digits(p, 2, &day) || (*p != 'T' && *p != ' '))
        return 0;
    put(bits, tSeparator, *p++ == 'T');
    if (!readTime(p, bits, numericSeconds, &hour, &minute, &second))
        return 0;
    if (get(bits, numericSeconds)) {
        if (*p == '.') {
            ++p;
            unsigned n = 0, fraction = 0;
            while (n < 4 && p[n] >= '0' && p[n] <= '9')
                ++n;
            if (n == 0 || n > 3 || !digits(p, static_cast<int>(n), &fraction))
                return 0;
            put(bits, fractionDigits, n);
            put(bits, fractionField, fraction);
        }
    }
    if (!putCommon(bits, year, month, day, hour, minute, second))
        return 0;
    if (*p == 'Z') {
        ++p;
        put(bits, numericZone, 1);
    } else if (*p == '+' || *p == '-') {
        bool colon = false;
        if (!readOffset(p, &colon, bits, numericOffset))
            return 0;
        put(bits, numericZone, colon ? 2 : 3);
    }
    return p == end ? bits : 0;
}

// The n last decimal digits of value, two at a time from a table (most fields are two digits).
char* putDigits(char* out, unsigned value, int n) {
    static const char pairs[] = "0001020304050607080910111213141516171819"
                                "2021222324252627282930313233343536373839"
                                "4041424344454647484950515253545556575859"
                                "6061626364656667686970717273747576777879"
                                "8081828384858687888990919293949596979899";
    int i = n;
    for (; i >= 2; i -= 2, value /= 100)
        std::memcpy(out + i - 2, pairs + 2 * (value % 100), 2);
    if (i == 1)
        out[0] = static_cast<char>('0' + value % 10);
    return out + n;
}

char* putText(char* out, const char* text, size_t n) {
    std::memcpy(out, text, n);
    return out + n;
}

char* putOffset(char* out, unsigned offset, bool colon) {
    *out++ = offset & 1 ? '-' : '+';
    out = putDigits(out, (offset >> 1) & 31, 2);
    if (colon)
        *out++ = ':';
    return putDigits(out, offset >> 6, 2);
}

// The text of a date held as parts; out has room for DateText's bytes. Returns its end.
char* writeDate(uint64_t bits, char* out) {
    unsigned year = get(bits, yearField) + 1900, month = get(bits, monthField);
    unsigned day = get(bits, dayField), hour = get(bits, hourField);
    unsigned minute = get(bits, minuteField), second = get(bits, secondField);
    if (bits & numericForm) {
        out = putDigits(out, year, 4);
        *out++ = '-';
        out = putDigits(out, month, 2);
        *out++ = '-';
        out = putDigits(out, day, 2);
        *out++ = get(bits, tSeparator) ? 'T' : ' ';
        out = putDigits(out, hour, 2);
        *out++ = ':';
        out = putDigits(out, minute, 2);
        if (get(bits, numericSeconds)) {
            *out++ = ':';
            out = putDigits(out, second, 2);
            if (unsigned n = get(bits, fractionDigits)) {
                *out++ = '.';
                out = putDigits(out, get(bits, fractionField), static_cast<int>(n));
            }
        }
        unsigned zone = get(bits, numericZone);
        if (zone == 1)
            *out++ = 'Z';
        else if (zone >= 2)
            out = putOffset(out, get(bits, numericOffset), zone == 2);
    } else {
        if (get(bits, weekdayWritten)) {
            out = putText(out, weekdayNames + 3 * (get(bits, weekdayField) % 7), 3);
            out = putText(out, ", ", 2);
        }
        out = putDigits(out, day, get(bits, twoDigitDay) ? 2 : 1);
        *out++ = ' ';
        out = putText(out, monthNames + 3 * ((month + 11) % 12), 3);
        *out++ = ' ';
        out = putDigits(out, year, 4);
        *out++ = ' ';
        out = putDigits(out, hour, 2);
        *out++ = ':';
        out = putDigits(out, minute, 2);
        if (get(bits, wordSeconds)) {
            *out++ = ':';
            out = putDigits(out, second, 2);
        }
        *out++ = ' ';
        unsigned zone = get(bits, zoneField);
        if (zone == 0)
            out = putOffset(out, get(bits, wordOffset), false);
        else if (zone < zoneCount)
            out = putText(out, zoneNames[zone], std::strlen(zoneNames[zone]));
    }
    *out = '\0';
    return out;
}

// The form nearly every RSS feed writes, "Tue, 08 Dec 2026 21:38:00 +0100" or with "GMT", read
// in one step: every byte's place is fixed, so the digits are checked together and no field's
// reader is called. 0 for any other text, which readWords then reads.
uint64_t readUsualWords(const char* t, size_t length) {
    if ((length != 31 && length != 29) || t[3] != ',' || t[4] != ' ' || t[7] != ' ' ||
        t[11] != ' ' || t[16] != ' ' || t[19] != ':' || t[22] != ':' || t[25] != ' ')
        return 0;
    auto digit = [t](int i) {
        return static_cast<unsigned>(static_cast<unsigned char>(t[i]) - '0');
    };
    unsigned d[] = {digit(5),  digit(6),  digit(12), digit(13), digit(14), digit(15),
                    digit(17), digit(18), digit(20), digit(21), digit(23), digit(24)};
    bool notDigit = false;
    for (unsigned v : d)
        notDigit |= v >= 10;
    if (notDigit)
        return 0;
    int weekday = weekdayIndex(t), month = monthIndex(t + 8);
    if (weekday < 0 || month < 0)
        return 0;
    unsigned day = d[0] * 10 + d[1], year = d[2] * 1000 + d[3] * 100 + d[4] * 10 + d[5];
    unsigned hour = d[6] * 10 + d[7], minute = d[8] * 10 + d[9], second = d[10] * 10 + d[11];
    uint64_t bits = heldAsParts;
    put(bits, weekdayWritten, 1);
    put(bits, weekdayField, static_cast<unsigned>(weekday));
    put(bits, twoDigitDay, 1);
    put(bits, wordSeconds, 1);
    if (!putCommon(bits, year, static_cast<unsigned>(month) + 1, day, hour, minute, second))
        return 0;
    if (length == 29)
        return t[26] == 'G' && t[27] == 'M' && t[28] == 'T' && put(bits, zoneField, 1) ? bits : 0;
    const char* p = t + 26;
    return readOffset(p, nullptr, bits, wordOffset) && p == t + length ? bits : 0;
}

// The parts of text (length bytes, zero-terminated) packed, or 0 when its text would not come back
// exactly from them. The readers take only what writeDate writes again, so no second copy is made
// to compare (the fuzz target of the date readers holds that).
uint64_t partsOf(const char* text, size_t length) {
    if (text == nullptr || length == 0 || length >= sizeof(DateText))
        return 0;
    if (uint64_t bits = readUsualWords(text, length))
        return bits;
    const char* end = text + length;
    return text[0] >= '0' && text[0] <= '9' && text[1] >= '0' && text[1] <= '9' && text[2] >= '0' &&
                   text[2] <= '9'
               ? readNumeric(text, end)
               : readWords(text, end);
}

} // namespace

const char* itemDate(const FeedItem* item, DateText* buffer) {
    if (item == nullptr)
        return nullptr;
    uint64_t bits = item->date.bits;
    if ((bits & heldAsParts) == 0)
        return reinterpret_cast<const char*>(static_cast<uintptr_t>(bits));
    writeDate(bits, buffer->text);
    return buffer->text;
}

StoredDate storedDateText(const char* text) {
    return StoredDate{static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text))};
}

bool holdDateParts(FeedItem* entry, const char* text, size_t length) {
    if (text == nullptr || length == 0 || length >= sizeof(DateText))
        return false;
    DateText written;
    std::memcpy(written.text, text, length);
    written.text[length] = '\0';
    uint64_t bits = partsOf(written.text, length);
    if (bits == 0)
        return false;
    entry->date = StoredDate{bits};
    return true;
}

void keepItemDate(FeedList* list, FeedItem* entry, char* text) {
    size_t length = text != nullptr ? std::strlen(text) : 0;
    uint64_t bits = partsOf(text, length);
    if (bits == 0) {
        entry->date = storedDateText(text);
        return;
    }
    dropListText(list, text, length + 1);
    entry->date = StoredDate{bits};
}

void setItemDate(FeedList* list, FeedItem* entry, const char* text) {
    uint64_t bits = partsOf(text, text != nullptr ? std::strlen(text) : 0);
    entry->date = bits != 0 ? StoredDate{bits} : storedDateText(listText(list, text, 0));
}
