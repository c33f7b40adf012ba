// A link kept by its rest is stored as the byte 0x01, the address of the whole link it begins like
// (the stem), the count of bytes taken from the stem (one byte: 16 to 255) and then the rest of
// its text with its zero. A whole link that itself begins with 0x01 is stored the same way with a
// count of 0, so the first byte always tells the two apart.
#include "content/stored_link.h"

#include "content/byte_scan.h"

#include <cstring>

namespace {

const char sharedMark = '\x01';
const size_t headerSize = 1 + sizeof(const char*) + 1;
// Fewer bytes in common are not worth the header.
const size_t leastShared = 16;
const size_t mostShared = 255;

} // namespace

const char* linkOf(StoredLink link, LinkText* buffer) {
    const char* bytes = link.bytes;
    if (bytes == nullptr || bytes[0] != sharedMark)
        return bytes;
    const char* stem = nullptr;
    std::memcpy(&stem, bytes + 1, sizeof stem);
    size_t shared = static_cast<unsigned char>(bytes[1 + sizeof stem]);
    const char* rest = bytes + headerSize;
    if (shared == 0)
        return rest; // a whole link that begins with the mark
    size_t restLength = std::strlen(rest);
    if (shared + restLength > sharedLinkLimit)
        return nullptr; // never stored so
    std::memcpy(buffer->text, stem, shared);
    std::memcpy(buffer->text + shared, rest, restLength + 1);
    return buffer->text;
}

StoredLink storedLinkText(const char* text) {
    return StoredLink{text};
}

StoredLink storeLink(FeedList* list, char* text, bool itemLink) {
    if (text == nullptr)
        return StoredLink{nullptr};
    // Measured by the parser's own scan: the runtime's strlen is slow in the shipped build.
    size_t length = static_cast<size_t>(findByteOrZero(text, '\0') - text);
    size_t shared = 0;
    const char* stem = list->linkStem;
    if (stem != nullptr && itemLink && length <= sharedLinkLimit)
        shared = sharedPrefix(text, stem, mostShared);
    if (shared < leastShared) {
        shared = 0;
        stem = nullptr;
        if (text[0] != sharedMark) {
            if (itemLink)
                list->linkStem = text;
            return StoredLink{text};
        }
        // A text that begins with the mark is stored with it and a count of 0: it grows by the
        // header, so it goes into storage of its own.
        char* copy = reserveListText(list, headerSize + length);
        if (copy == nullptr)
            return StoredLink{nullptr};
        std::memmove(copy + headerSize, text, length + 1);
        std::memcpy(copy + 1, &stem, sizeof stem);
        copy[0] = sharedMark;
        copy[1 + sizeof stem] = 0;
        return StoredLink{copy};
    }
    // The rest moves down behind the header (the header is shorter than what is shared), and the
    // storage after it goes back to the list.
    size_t rest = length - shared;
    std::memmove(text + headerSize, text + shared, rest + 1);
    std::memcpy(text + 1, &stem, sizeof stem);
    text[0] = sharedMark;
    text[1 + sizeof stem] = static_cast<char>(shared);
    keepListText(list, text, length + 1, headerSize + rest);
    return StoredLink{text};
}

StoredLink copyLink(FeedList* list, const char* text, bool itemLink) {
    // The copy is the list's own storage, written here and changed in place by storeLink.
    return storeLink(list, const_cast<char*>(listText(list, text, 0)), itemLink);
}
