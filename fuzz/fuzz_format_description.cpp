// Fuzzes formatDescription in each form over exactly the counted bytes (a heap copy with no
// terminator, so a read past them crashes), then checks the document against its limits and its
// plain text against the document, and that a feed document's items find their description
// sources again.
#include "content/description_source.h"
#include "content/feed_document.h"
#include "content/formatted_description.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

static bool isUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

static void checkDocument(const FormattedDescription* document) {
    FUZZ_CHECK(document->blockCount >= 0 && document->blockCount <= formattedBlockLimit);
    int32_t nextRun = 0;
    long characters = 0;
    size_t bytes = 0;
    for (int32_t k = 0; k < document->blockCount; ++k) {
        const FormattedBlock& block = document->blocks[k];
        FUZZ_CHECK(block.kind <= PreformattedBlock);
        FUZZ_CHECK(block.level >= 1 && block.level <= formattedLevelLimit);
        FUZZ_CHECK(block.indent <= formattedLevelLimit);
        FUZZ_CHECK(std::memchr(block.marker, 0, sizeof block.marker) != nullptr);
        FUZZ_CHECK(block.marker[0] == 0 || block.kind == ListItemBlock);
        // Blocks take their runs in order, each at least one.
        FUZZ_CHECK(block.firstRun == nextRun && block.runCount >= 1);
        nextRun += block.runCount;
        for (int32_t r = 0; r < block.runCount; ++r) {
            const FormattedRun& run = document->runs[block.firstRun + r];
            FUZZ_CHECK(run.length >= 1);
            FUZZ_CHECK(run.style <= (BoldStyle | ItalicStyle | UnderlineStyle | CodeStyle));
            FUZZ_CHECK(run.link == nullptr || (run.style & UnderlineStyle));
            FUZZ_CHECK(run.link == nullptr || std::strlen(run.link) > 0);
            for (int32_t i = 0; i < run.length; ++i)
                characters += isUtf8Continuation(run.text[i]) ? 0 : 1;
            bytes += static_cast<size_t>(run.length);
        }
        // No block starts with a line break or ends with white space outside preformatted text.
        const FormattedRun& first = document->runs[block.firstRun];
        const FormattedRun& last = document->runs[block.firstRun + block.runCount - 1];
        char end = last.text[last.length - 1];
        if (block.kind != PreformattedBlock) {
            FUZZ_CHECK(first.text[0] != ' ' && first.text[0] != '\n');
            FUZZ_CHECK(end != ' ' && end != '\n');
        }
    }
    FUZZ_CHECK(nextRun == document->runCount);
    FUZZ_CHECK(characters <= formattedCharacterLimit + 1); // the closing "…"
    // The plain text holds every run, a separator per block and the markers; cut short, it ends
    // on a whole character.
    size_t needed = formattedPlainText(document, nullptr, 0);
    FUZZ_CHECK(needed >= bytes);
    char small[7];
    size_t again = formattedPlainText(document, small, sizeof small);
    FUZZ_CHECK(again == needed && std::strlen(small) <= 6);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    DescriptionForm form = static_cast<DescriptionForm>(data[0] % 3);
    char* source = static_cast<char*>(std::malloc(size - 1 ? size - 1 : 1));
    if (source == nullptr)
        return 0;
    std::memcpy(source, data + 1, size - 1);
    FormattedDescription* document = formatDescription(source, size - 1, form);
    if (document != nullptr) {
        checkDocument(document);
        freeFormattedDescription(document);
    }
    std::free(source);

    // The same bytes as a feed document: every item of the plain parse that shows a description
    // and whose key is its own finds that description's source in the collecting parse.
    size_t length = 0;
    char* text = fuzzText(data + 1, size - 1, &length);
    char* again = text != nullptr ? static_cast<char*>(std::malloc(length + 1)) : nullptr;
    if (again != nullptr) {
        std::memcpy(again, text, length + 1);
        FeedList* list = parseFeedBody(text, length, nullptr, nullptr, true);
        DescriptionSources* sources = readDescriptionSources(again, length, nullptr, nullptr);
        for (const FeedItem* item = list != nullptr && list->first ? list->first->next : nullptr;
             item != nullptr && sources != nullptr; item = item->next) {
            int keyed = 0;
            for (const FeedItem* other = list->first->next; other != nullptr; other = other->next)
                keyed += other->key == item->key;
            DescriptionSource found;
            if (item->description != nullptr && keyed == 1)
                FUZZ_CHECK(findDescriptionSource(sources, item->key, item->entryIndex, &found));
        }
        freeDescriptionSources(sources);
        releaseFeedList(list);
    }
    std::free(again);
    std::free(text);
    return 0;
}
