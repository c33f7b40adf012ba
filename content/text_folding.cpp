// Case folding and diacritics folding from the tables tools/gen_text_folding.py writes: runs of
// code points that fold by the same distance, searched by binary search.
#include "content/text_folding.h"

#include <cstdlib>
#include <cstring>

#include "content/utf8.h"

namespace {

struct FoldRun {
    uint32_t first;
    uint32_t count;
    uint32_t stride;
    int32_t delta;
};

struct FoldExpansion {
    uint32_t from;
    uint32_t to[3];
};

struct CodeRange {
    uint32_t first;
    uint32_t last;
};

const FoldRun caseRuns[] = {
#define FOLD_CASE_RUNS
#include "content/text_folding.inc"
#undef FOLD_CASE_RUNS
};

const FoldExpansion caseExpansions[] = {
#define FOLD_CASE_EXPANSIONS
#include "content/text_folding.inc"
#undef FOLD_CASE_EXPANSIONS
};

const FoldRun baseRuns[] = {
#define FOLD_BASE_RUNS
#include "content/text_folding.inc"
#undef FOLD_BASE_RUNS
};

const CodeRange diacriticRanges[] = {
#define FOLD_DIACRITIC_RANGES
#include "content/text_folding.inc"
#undef FOLD_DIACRITIC_RANGES
};

// The code point c maps to through runs, or c itself.
uint32_t throughRuns(const FoldRun* runs, size_t count, uint32_t c) {
    size_t low = 0, high = count;
    while (low < high) {
        size_t middle = (low + high) / 2;
        if (runs[middle].first <= c)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0)
        return c;
    const FoldRun& run = runs[low - 1];
    uint32_t offset = c - run.first;
    if (offset % run.stride != 0 || offset / run.stride >= run.count)
        return c;
    return static_cast<uint32_t>(static_cast<int64_t>(c) + run.delta);
}

const FoldExpansion* expansionOf(uint32_t c) {
    size_t low = 0, high = sizeof caseExpansions / sizeof caseExpansions[0];
    while (low < high) {
        size_t middle = (low + high) / 2;
        if (caseExpansions[middle].from < c)
            low = middle + 1;
        else
            high = middle;
    }
    return low < sizeof caseExpansions / sizeof caseExpansions[0] && caseExpansions[low].from == c
               ? &caseExpansions[low]
               : nullptr;
}

bool isDiacritic(uint32_t c) {
    size_t low = 0, high = sizeof diacriticRanges / sizeof diacriticRanges[0];
    while (low < high) {
        size_t middle = (low + high) / 2;
        if (diacriticRanges[middle].last < c)
            low = middle + 1;
        else
            high = middle;
    }
    return low < sizeof diacriticRanges / sizeof diacriticRanges[0] &&
           diacriticRanges[low].first <= c;
}

// A letter's base letter, folded again: a capital's base is a capital ("Ǖ" is "Ü", then "U").
uint32_t withoutDiacritics(uint32_t c) {
    for (int depth = 0; depth < 4; ++depth) {
        uint32_t base = throughRuns(baseRuns, sizeof baseRuns / sizeof baseRuns[0], c);
        if (base == c)
            break;
        c = throughRuns(caseRuns, sizeof caseRuns / sizeof caseRuns[0], base);
    }
    return c;
}

bool isSpace(uint32_t c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool append(FoldedText* out, uint32_t c) {
    if (out->length == out->capacity) {
        size_t capacity = out->capacity < 32 ? 64 : out->capacity * 2;
        uint32_t* grown = static_cast<uint32_t*>(realloc(out->chars, capacity * sizeof(uint32_t)));
        if (grown == nullptr)
            return false;
        out->chars = grown;
        out->capacity = capacity;
    }
    out->chars[out->length++] = c;
    return true;
}

} // namespace

size_t foldCodePoint(uint32_t c, bool ignoreDiacritics, uint32_t out[3]) {
    if (ignoreDiacritics && isDiacritic(c))
        return 0;
    size_t count = 1;
    const FoldExpansion* expansion = c >= 0xDF ? expansionOf(c) : nullptr;
    if (expansion != nullptr) {
        count = 0;
        for (uint32_t folded : expansion->to)
            if (folded != 0)
                out[count++] = folded;
    } else {
        out[0] = throughRuns(caseRuns, sizeof caseRuns / sizeof caseRuns[0], c);
    }
    if (!ignoreDiacritics)
        return count;
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i)
        if (!isDiacritic(out[i]))
            out[kept++] = withoutDiacritics(out[i]);
    return kept;
}

bool foldUtf8(const char* text, size_t length, bool ignoreDiacritics, FoldedText* out) {
    out->length = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + (text != nullptr ? length : 0);
    bool pendingSpace = false;
    while (p < end) {
        uint32_t c = 0xFFFD;
        size_t n = utf8SequenceLength(p, end);
        if (n == 0)
            n = 1;
        else
            c = utf8CodePoint(p, n);
        p += n;
        if (isSpace(c)) {
            pendingSpace = out->length > 0;
            continue;
        }
        uint32_t folded[3];
        size_t count = foldCodePoint(c, ignoreDiacritics, folded);
        bool kept = count == 0 || !pendingSpace || append(out, ' ');
        for (size_t i = 0; i < count && kept; ++i)
            kept = append(out, folded[i]);
        if (!kept) {
            out->length = 0;
            return false;
        }
        if (count > 0)
            pendingSpace = false;
    }
    return true;
}

void releaseFoldedText(FoldedText* text) {
    free(text->chars);
    *text = FoldedText{};
}
