// The words are folded once, when the filter is made; each item's texts are folded into a buffer
// of their own and searched for every word (titles are short, and a filter holds few words).
#include "content/item_filter.h"

#include <cstdlib>
#include <cstring>

#include "content/text_folding.h"

struct ItemFilter {
    FoldedText* words; // the hide words, then the highlight words
    size_t hideCount;
    size_t wordCount;
    FilterSwitches switches;
};

namespace {

// Counts (words null) or folds into words the entries of a comma-separated list.
size_t takeWords(const char* list, bool ignoreDiacritics, FoldedText* words, bool* failed) {
    size_t taken = 0;
    for (const char* p = list; p != nullptr && *p != '\0';) {
        const char* comma = strchr(p, ',');
        size_t length = comma != nullptr ? static_cast<size_t>(comma - p) : strlen(p);
        FoldedText word = {};
        if (!foldUtf8(p, length, ignoreDiacritics, &word))
            *failed = true;
        if (word.length > 0) {
            if (words != nullptr)
                words[taken] = word;
            else
                releaseFoldedText(&word);
            ++taken;
        } else {
            releaseFoldedText(&word);
        }
        p = comma != nullptr ? comma + 1 : p + length;
    }
    return taken;
}

bool contains(const FoldedText& text, const FoldedText& word) {
    if (word.length == 0 || word.length > text.length)
        return false;
    const uint32_t first = word.chars[0];
    const size_t rest = (word.length - 1) * sizeof(uint32_t);
    for (size_t i = 0; i + word.length <= text.length; ++i)
        if (text.chars[i] == first && memcmp(text.chars + i + 1, word.chars + 1, rest) == 0)
            return true;
    return false;
}

// The first word of words[from, to) the text contains, or to.
size_t firstMatch(const ItemFilter* filter, const FoldedText& text, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (contains(text, filter->words[i]))
            return i;
    return to;
}

} // namespace

ItemFilter* compileItemFilter(const FilterWordLists* lists, int listCount,
                              FilterSwitches switches) {
    bool failed = false;
    const bool ignore = switches.ignoreDiacritics;
    size_t hideCount = 0, wordCount = 0;
    for (int i = 0; i < listCount; ++i) {
        hideCount += takeWords(lists[i].hide, ignore, nullptr, &failed);
        wordCount += takeWords(lists[i].highlight, ignore, nullptr, &failed);
    }
    wordCount += hideCount;
    if (wordCount == 0 || failed)
        return nullptr;
    ItemFilter* filter = static_cast<ItemFilter*>(calloc(1, sizeof(ItemFilter)));
    FoldedText* words = static_cast<FoldedText*>(calloc(wordCount, sizeof(FoldedText)));
    if (filter == nullptr || words == nullptr) {
        free(filter);
        free(words);
        return nullptr;
    }
    *filter = ItemFilter{words, hideCount, wordCount, switches};
    size_t taken = 0;
    for (int i = 0; i < listCount; ++i)
        taken += takeWords(lists[i].hide, ignore, words + taken, &failed);
    for (int i = 0; i < listCount; ++i)
        taken += takeWords(lists[i].highlight, ignore, words + taken, &failed);
    if (failed || taken != wordCount) {
        filter->wordCount = taken;
        releaseItemFilter(filter);
        return nullptr;
    }
    return filter;
}

void releaseItemFilter(ItemFilter* filter) {
    if (filter == nullptr)
        return;
    for (size_t i = 0; i < filter->wordCount; ++i)
        releaseFoldedText(&filter->words[i]);
    free(filter->words);
    free(filter);
}

FilterVerdict filterItem(const ItemFilter* filter, const char* title, const char* description) {
    if (filter == nullptr)
        return itemShown;
    const bool ignore = filter->switches.ignoreDiacritics;
    const bool withDescription = filter->switches.descriptions && description != nullptr;
    FoldedText titleText = {}, descriptionText = {};
    foldUtf8(title, title != nullptr ? strlen(title) : 0, ignore, &titleText);
    if (withDescription)
        foldUtf8(description, strlen(description), ignore, &descriptionText);
    FilterVerdict verdict = itemShown;
    const size_t hide = filter->hideCount, all = filter->wordCount;
    if (firstMatch(filter, titleText, 0, hide) < hide ||
        (withDescription && firstMatch(filter, descriptionText, 0, hide) < hide))
        verdict = itemHidden;
    else if (firstMatch(filter, titleText, hide, all) < all ||
             (withDescription && firstMatch(filter, descriptionText, hide, all) < all))
        verdict = itemHighlighted;
    releaseFoldedText(&titleText);
    releaseFoldedText(&descriptionText);
    return verdict;
}
