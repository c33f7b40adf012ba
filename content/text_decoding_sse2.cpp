// The text decoding a second time, for 32-bit x86 processors that have SSE2: the shipped build
// cannot assume it, so text_decoding.cpp's public functions pick this copy when the processor
// reports it. The headers come first, outside the SSE2 region, so that the inline functions they
// define (which the linker may share with other files) never hold SSE2 instructions. Elsewhere
// (x86-64 has SSE2 always) this file is empty.
#if defined(__i386__) && !defined(__SSE2__) && defined(__GNUC__) && !defined(__clang__)
#include "content/byte_scan.h"
#include "content/html_entities.h"
#include "content/text_decoding.h"
#include "content/utf8.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#pragma GCC push_options
#pragma GCC target("sse2")
#define FM_TEXT_DECODING_SSE2 1
#include "content/text_decoding.cpp"
#pragma GCC pop_options
#endif
