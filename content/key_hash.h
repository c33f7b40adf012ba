// The 64-bit hash that stands for an item's key (its guid, else its link, else its title) wherever
// items are told apart: in the entries, in the seen-keys files and in the description sources. It
// is fixed for good: seen-keys files written by earlier versions hold these hashes. Portable: no
// Win32 headers.
#pragma once
#include <cstddef>
#include <cstdint>

// The 64-bit FNV-1a hash of length bytes, going on from hash (a running hash over several texts);
// textHash starts it. Fixed for good as well: the saved files' names are the hashes of the feeds'
// addresses.
const uint64_t textHashStart = 14695981039346656037ull;
uint64_t continueTextHash(uint64_t hash, const char* text, size_t length);
inline uint64_t textHash(const char* text, size_t length) {
    return continueTextHash(textHashStart, text, length);
}

// The hash of the first length bytes of text (textHash); never 0, which stands for "no key". Null
// text: 0.
uint64_t keyHashOf(const char* text, size_t length);
// The same over a zero-terminated text.
uint64_t keyHashOf(const char* text);
// The hash of the length bytes at text when each is printable ASCII other than a blank, '&' and
// '<' (a key as a document writes it that no decoding changes); 0 otherwise.
uint64_t plainKeyHashOf(const char* text, size_t length);
