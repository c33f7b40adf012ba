// Item dates. A date is read either in the numeric form (2006-12-06T12:34:56+09:00) or as words
// and numbers (Wed, 06 Dec 2006 12:34:56 +0900; Sat, Dec 16 2023 02:02:33 PM; mer, 16 nov 2022
// 00:38). Feeds write their dates loosely (no weekday, single-digit days, a month in their own
// language, a zone in brackets), so the reader looks for a month name with a day next to it and a
// time, rather than for one exact form; a date that does not read clearly is no date, never a
// guessed one.
#include "content/item_time.h"

#include <cstddef>
#include <cstring>

namespace {

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
// Letters of a month name: ASCII letters and the bytes of UTF-8 sequences ("févr", "März").
inline bool isWordByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c & 0x80) != 0;
}
inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Month names, lower case, in English, French, German, Spanish, Italian, Portuguese and Dutch. A
// word is a month when it is a name or the start (three bytes or more) of names of one month
// only: "dec", "déc", "dez" and "dic" are December, "mar" is March in every language, "jui"
// (juin or juillet) is none. A few short forms that start no name are listed as names.
struct MonthName {
    const char* name;
    int month;
};
const MonthName monthNames[] = {
    {"january", 1},   {"janvier", 1},    {"januar", 1},     {"enero", 1},     {"gennaio", 1},
    {"janeiro", 1},   {"januari", 1},    {"february", 2},   {"février", 2},   {"fevrier", 2},
    {"februar", 2},   {"febrero", 2},    {"febbraio", 2},   {"fevereiro", 2}, {"februari", 2},
    {"march", 3},     {"mars", 3},       {"märz", 3},       {"maerz", 3},     {"mrz", 3},
    {"marzo", 3},     {"março", 3},      {"marco", 3},      {"maart", 3},     {"mrt", 3},
    {"april", 4},     {"avril", 4},      {"abril", 4},      {"aprile", 4},    {"may", 5},
    {"mai", 5},       {"mayo", 5},       {"maggio", 5},     {"maio", 5},      {"mei", 5},
    {"june", 6},      {"juin", 6},       {"juni", 6},       {"junio", 6},     {"giugno", 6},
    {"junho", 6},     {"july", 7},       {"juillet", 7},    {"juli", 7},      {"julio", 7},
    {"luglio", 7},    {"julho", 7},      {"august", 8},     {"août", 8},      {"aout", 8},
    {"agosto", 8},    {"augustus", 8},   {"september", 9},  {"septembre", 9}, {"septiembre", 9},
    {"setiembre", 9}, {"settembre", 9},  {"setembro", 9},   {"october", 10},  {"octobre", 10},
    {"oktober", 10},  {"octubre", 10},   {"ottobre", 10},   {"outubro", 10},  {"november", 11},
    {"novembre", 11}, {"noviembre", 11}, {"novembro", 11},  {"december", 12}, {"décembre", 12},
    {"decembre", 12}, {"dezember", 12},  {"diciembre", 12}, {"dicembre", 12}, {"dezembro", 12},
};

// The month the word names (1 to 12), or 0.
int monthOfWord(const char* word, size_t length) {
    if (length < 3 || length > 12)
        return 0;
    char lower[12];
    for (size_t i = 0; i < length; ++i)
        lower[i] = lowerAscii(word[i]);
    int found = 0;
    for (const MonthName& m : monthNames) {
        // The word holds no zero byte, so the comparison stops at the name's end too.
        size_t i = 0;
        while (i < length && m.name[i] == lower[i])
            ++i;
        if (i < length)
            continue;
        if (m.name[length] == '\0')
            return m.month; // a whole name settles it
        if (found != 0 && found != m.month)
            found = -1; // the start of names of two months
        else if (found == 0)
            found = m.month;
    }
    return found > 0 ? found : 0;
}

// One piece of a date: a run of digits, a word, or one other byte.
enum TokenKind { Number, Word, Other };
struct Token {
    TokenKind kind;
    const char* start;
    size_t length;
};

// Only the start of a date is read; the words and numbers that matter come first.
const size_t maximumTokens = 64;

size_t splitDate(const char* p, const char* end, Token* tokens) {
    size_t count = 0;
    while (p < end && count < maximumTokens) {
        const char* start = p;
        TokenKind kind;
        if (isDigit(*p)) {
            kind = Number;
            while (p < end && isDigit(*p))
                ++p;
        } else if (isWordByte(*p)) {
            kind = Word;
            while (p < end && isWordByte(*p))
                ++p;
        } else {
            kind = Other;
            ++p;
        }
        tokens[count++] = {kind, start, static_cast<size_t>(p - start)};
    }
    return count;
}

// The value of a number token of at most digits digits, or -1.
int numberValue(const Token& t, size_t digits) {
    if (t.kind != Number || t.length > digits)
        return -1;
    int value = 0;
    for (size_t i = 0; i < t.length; ++i)
        value = value * 10 + (t.start[i] - '0');
    return value;
}

// Separators between a day and its month: blanks, ',', '.', '-' and '/'.
inline bool isSeparator(const Token& t) {
    if (t.kind != Other)
        return false;
    char c = t.start[0];
    return c == ' ' || c == '\t' || c == ',' || c == '.' || c == '-' || c == '/';
}

// The next token of a kind other than a separator, from i on in direction step; -1 for none.
long skipSeparators(const Token* tokens, size_t count, long i, long step) {
    while (i >= 0 && i < static_cast<long>(count) && isSeparator(tokens[i]))
        i += step;
    return i >= 0 && i < static_cast<long>(count) ? i : -1;
}

// A day of the month at token i: one or two digits, 1 to 31, not the hour of a time.
int dayAt(const Token* tokens, size_t count, long i) {
    if (i < 0)
        return 0;
    if (i > 0 && tokens[i - 1].kind == Other && tokens[i - 1].start[0] == ':')
        return 0;
    int day = numberValue(tokens[i], 2);
    if (day < 1 || day > 31)
        return 0;
    if (static_cast<size_t>(i) + 1 < count && tokens[i + 1].kind == Other &&
        tokens[i + 1].start[0] == ':')
        return 0;
    return day;
}

struct Reading {
    int month, day;
    int hour, minute, second; // hour -1: no time
    int year;                 // 0: none written
    size_t afterTime;         // the token after the time's minutes, seconds and fractions
};

// Reads a time "H:MM" (seconds and fractions after it are passed over) starting at token i, with
// an AM or PM after it; true when it is a valid time.
bool readTime(const Token* tokens, size_t count, size_t i, Reading* date) {
    if (i + 2 >= count || tokens[i + 1].kind != Other || tokens[i + 1].start[0] != ':')
        return false;
    int hour = numberValue(tokens[i], 2);
    int minute = tokens[i + 2].length == 2 ? numberValue(tokens[i + 2], 2) : -1;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return false;
    size_t j = i + 3;
    int second = 0;
    if (j + 1 < count && tokens[j].kind == Other && tokens[j].start[0] == ':' &&
        tokens[j + 1].kind == Number) {
        second = tokens[j + 1].length == 2 ? numberValue(tokens[j + 1], 2) : -1;
        if (second < 0 || second > 60) // 60: a leap second
            return false;
        j += 2;
    }
    if (j + 1 < count && tokens[j].kind == Other && tokens[j].start[0] == '.' &&
        tokens[j + 1].kind == Number)
        j += 2; // fractions of a second
    date->afterTime = j;
    while (j < count && tokens[j].kind == Other &&
           (tokens[j].start[0] == ' ' || tokens[j].start[0] == '\t'))
        ++j;
    // AM or PM, also written "a.m." / "p.m.".
    int half = 0; // 1 AM, 2 PM
    if (j < count && tokens[j].kind == Word) {
        const Token& w = tokens[j];
        char a = lowerAscii(w.start[0]);
        if (w.length == 2 && lowerAscii(w.start[1]) == 'm' && (a == 'a' || a == 'p'))
            half = a == 'a' ? 1 : 2;
        else if (w.length == 1 && (a == 'a' || a == 'p') && j + 2 < count &&
                 tokens[j + 1].start[0] == '.' && tokens[j + 2].kind == Word &&
                 tokens[j + 2].length == 1 && lowerAscii(tokens[j + 2].start[0]) == 'm')
            half = a == 'a' ? 1 : 2;
    }
    if (half != 0) {
        if (hour < 1 || hour > 12)
            return false; // "14:02 PM" is no 12-hour time
        hour = hour % 12 + (half == 2 ? 12 : 0);
    }
    date->hour = hour;
    date->minute = minute;
    date->second = second;
    return true;
}

// The time: the first number with a ':' after it that is no zone (after '+' or '-'). False when
// it is no valid time, so that the date is shown as written; true without a time too.
bool findTime(const Token* tokens, size_t count, Reading* date) {
    for (size_t i = 0; i + 1 < count; ++i) {
        if (tokens[i].kind != Number || tokens[i + 1].kind != Other ||
            tokens[i + 1].start[0] != ':')
            continue;
        if (i > 0 && tokens[i - 1].kind == Other &&
            (tokens[i - 1].start[0] == '+' || tokens[i - 1].start[0] == '-'))
            continue;
        return readTime(tokens, count, i, date);
    }
    return true;
}

// Whether the day exists in the month of the year (year 0: not given, so 29 February stands).
bool dayExists(int year, int month, int day) {
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && day == 29 && year != 0)
        return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return day <= days[month - 1];
}

// The year of a date in words whose day stands at token dayIndex: the first four-digit number that
// is no zone (after '+' or '-'), else two digits right after the day and month ("06 Dec 06": 2006,
// "06 Dec 99": 1999); 0 when none is given.
int yearOf(const Token* tokens, size_t count, long monthIndex, long dayIndex) {
    for (size_t i = 0; i < count; ++i) {
        if (tokens[i].kind == Number && tokens[i].length == 4 &&
            !(i > 0 && (tokens[i - 1].start[0] == '+' || tokens[i - 1].start[0] == '-')))
            return numberValue(tokens[i], 4);
    }
    long after =
        skipSeparators(tokens, count, (monthIndex > dayIndex ? monthIndex : dayIndex) + 1, 1);
    if (after >= 0 && tokens[after].kind == Number && tokens[after].length == 2 &&
        !(static_cast<size_t>(after) + 1 < count && tokens[after + 1].start[0] == ':'))
        return numberValue(tokens[after], 2) + (numberValue(tokens[after], 2) < 50 ? 2000 : 1900);
    return 0;
}

// The numeric form: a four-digit year, month and day with '-', then nothing, or 'T' or a blank
// and the time.
bool readNumeric(const Token* tokens, size_t count, Reading* date) {
    if (count < 5 || tokens[0].kind != Number || tokens[0].length != 4 || tokens[1].kind != Other ||
        tokens[1].start[0] != '-' || tokens[3].kind != Other || tokens[3].start[0] != '-')
        return false;
    date->month = numberValue(tokens[2], 2);
    date->day = numberValue(tokens[4], 2);
    date->year = numberValue(tokens[0], 4);
    if (date->month < 1 || date->month > 12 || date->day < 1 ||
        !dayExists(date->year, date->month, date->day))
        return false;
    if (count == 5)
        return true;
    // The 'T' is a word of its own, as the hour's digits end it.
    const Token& separator = tokens[5];
    bool timeFollows = (separator.kind == Word && separator.length == 1 &&
                        lowerAscii(separator.start[0]) == 't') ||
                       (separator.kind == Other && separator.start[0] == ' ');
    return timeFollows && readTime(tokens, count, 6, date);
}

// Words and numbers: a month name with the day next to it, the day before the month preferred
// ("mar, 15 nov": the weekday that looks like a month has no day before it); then a time.
bool readWords(const Token* tokens, size_t count, Reading* date) {
    long chosen = -1;
    long chosenAt = -1;
    int chosenDay = 0, chosenMonth = 0;
    for (int pass = 0; pass < 2 && chosen < 0; ++pass) {
        for (size_t i = 0; i < count && chosen < 0; ++i) {
            int month = tokens[i].kind == Word ? monthOfWord(tokens[i].start, tokens[i].length) : 0;
            if (month == 0)
                continue;
            long step = pass == 0 ? -1 : 1;
            long at = skipSeparators(tokens, count, static_cast<long>(i) + step, step);
            int day = dayAt(tokens, count, at);
            // A day that does not exist (31 April, 29 February 2023), or a number of one or two
            // digits before the month that is no day ("38 Dec 06", whose year would otherwise be
            // taken for the day): the date is shown as written.
            if (day != 0 && !dayExists(yearOf(tokens, count, static_cast<long>(i), at), month, day))
                return false;
            if (day == 0 && pass == 0 && at >= 0 && tokens[at].kind == Number &&
                tokens[at].length <= 2 && !(at > 0 && tokens[at - 1].start[0] == ':') &&
                !(static_cast<size_t>(at) + 1 < count && tokens[at + 1].start[0] == ':'))
                return false;
            if (day != 0) {
                chosen = static_cast<long>(i);
                chosenAt = at;
                chosenDay = day;
                chosenMonth = month;
            }
        }
    }
    if (chosen < 0)
        return false;
    date->month = chosenMonth;
    date->day = chosenDay;
    date->year = yearOf(tokens, count, chosen, chosenAt);
    return findTime(tokens, count, date);
}

inline bool wordIs(const Token& t, const char* word) {
    if (t.kind != Word)
        return false;
    for (size_t i = 0; i < t.length; ++i)
        if (word[i] == '\0' || lowerAscii(t.start[i]) != word[i])
            return false;
    return word[t.length] == '\0';
}

// A numeric offset at token i ("+0900", "-05:00", "+09"); true with its minutes.
bool readOffset(const Token* tokens, size_t count, size_t i, int* minutes) {
    if (i + 1 >= count || tokens[i].kind != Other ||
        (tokens[i].start[0] != '+' && tokens[i].start[0] != '-') || tokens[i + 1].kind != Number)
        return false;
    int hours, mins = 0;
    const Token& n = tokens[i + 1];
    if (n.length == 4) {
        hours = numberValue(n, 4) / 100;
        mins = numberValue(n, 4) % 100;
    } else if (n.length == 2) {
        hours = numberValue(n, 2);
        if (i + 3 < count && tokens[i + 2].kind == Other && tokens[i + 2].start[0] == ':')
            mins = tokens[i + 3].length == 2 ? numberValue(tokens[i + 3], 2) : -1;
    } else {
        return false;
    }
    if (hours > 23 || mins < 0 || mins > 59)
        return false;
    *minutes = (tokens[i].start[0] == '-' ? -1 : 1) * (hours * 60 + mins);
    return true;
}

// The zone written after the time, in minutes east of UTC: Z, GMT, UT, UTC (each perhaps followed
// by an offset), a numeric offset, or a US zone name, perhaps in brackets ("(UTC)"). False when
// none is named.
bool readZone(const Token* tokens, size_t count, size_t i, int* minutes) {
    static const struct {
        const char* name;
        int hours;
    } names[] = {{"z", 0},    {"gmt", 0},  {"ut", 0},   {"utc", 0},  {"est", -5}, {"edt", -4},
                 {"cst", -6}, {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}};
    // Blanks, an AM or PM ("a", ".", "m", ".") and a bracket stand between the time and the zone.
    while (i < count &&
           ((tokens[i].kind == Other && (tokens[i].start[0] == ' ' || tokens[i].start[0] == '\t' ||
                                         tokens[i].start[0] == '.' || tokens[i].start[0] == '(')) ||
            wordIs(tokens[i], "am") || wordIs(tokens[i], "pm") || wordIs(tokens[i], "a") ||
            wordIs(tokens[i], "p") || wordIs(tokens[i], "m")))
        ++i;
    if (i >= count)
        return false;
    if (readOffset(tokens, count, i, minutes))
        return true;
    for (const auto& zone : names) {
        if (!wordIs(tokens[i], zone.name))
            continue;
        *minutes = zone.hours * 60;
        if (zone.hours == 0) // "GMT+0100"
            readOffset(tokens, count, i + 1, minutes);
        return true;
    }
    return false;
}

} // namespace

int64_t daysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool readItemDate(const char* text, ItemDate* date) {
    if (text == nullptr)
        return false;
    const char* start = text;
    const char* end = text + std::strlen(text);
    while (start < end && (*start == ' ' || *start == '\t' || *start == '\r' || *start == '\n'))
        ++start;
    while (end > start && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n'))
        --end;
    Token tokens[maximumTokens];
    size_t count = splitDate(start, end, tokens);
    Reading reading = {0, 0, -1, 0, 0, 0, 0};
    if (!readNumeric(tokens, count, &reading) && !readWords(tokens, count, &reading))
        return false;
    ItemDate read = {reading.year,   reading.month,  reading.day, reading.hour,
                     reading.minute, reading.second, false,       0};
    if (reading.hour >= 0)
        read.zoned = readZone(tokens, count, reading.afterTime, &read.offsetMinutes);
    if (!read.zoned)
        read.offsetMinutes = 0;
    *date = read;
    return true;
}

int64_t itemDateSeconds(const ItemDate& date) {
    int64_t seconds = daysFromCivil(date.year, date.month, date.day) * 86400;
    if (date.hour >= 0)
        seconds += date.hour * 3600 + date.minute * 60 + date.second;
    return seconds - static_cast<int64_t>(date.offsetMinutes) * 60;
}

bool parseItemTime(const char* text, int64_t* seconds) {
    ItemDate date;
    if (!readItemDate(text, &date) || date.year == 0)
        return false;
    *seconds = itemDateSeconds(date);
    return true;
}
