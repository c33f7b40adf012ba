// The 64-bit hash that stands for an item's key (its guid, else its link, else its title) wherever
// items are told apart: in the entries, in the seen-keys files and in the description sources. It
// is fixed for good: seen-keys files written by earlier versions hold these hashes. Portable: no
// Win32 headers.
#pragma once
#include <cstddef>
#include <cstdint>

// The hash of the first length bytes of text (FNV-1a); never 0, which stands for "no key". Null
// text: 0.
uint64_t keyHashOf(const char* text, size_t length);
// The same over a zero-terminated text.
uint64_t keyHashOf(const char* text);
// The hash of the length bytes at text when each is printable ASCII other than a blank, '&' and
// '<' (a key as a document writes it that no decoding changes); 0 otherwise.
uint64_t plainKeyHashOf(const char* text, size_t length);
