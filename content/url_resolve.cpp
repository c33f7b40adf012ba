// Link resolution: the reference is merged with the base as browsers do (scheme, authority, path,
// query and fragment taken from the one or the other), then "." and ".." segments are removed
// from the path in place. Everything is written straight into the caller's buffer; nothing is
// allocated, so a feed full of relative links costs no more than a copy of each.
#include "content/url_resolve.h"

#include <cstring>

namespace {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The length of the scheme at the start of text (without its ':'), or 0 when it has none.
size_t schemeLength(const char* text, size_t length) {
    if (length == 0 || !isAlpha(text[0]))
        return 0;
    for (size_t i = 1; i < length; ++i) {
        char c = text[i];
        if (c == ':')
            return i;
        if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return 0;
    }
    return 0;
}

// The first position at or after from in text[0, length) holding one of stops, or length.
size_t findAny(const char* text, size_t from, size_t length, const char* stops) {
    for (size_t i = from; i < length; ++i)
        if (std::strchr(stops, text[i]) != nullptr)
            return i;
    return length;
}

// Appends bytes to out while they fit (one byte always stays for the terminator).
struct Writer {
    char* out;
    size_t size;
    size_t used;
    bool overflow;
};

void append(Writer& w, const char* text, size_t length) {
    if (w.overflow || length >= w.size - w.used) {
        w.overflow = true;
        return;
    }
    std::memcpy(w.out + w.used, text, length);
    w.used += length;
}

// Removes "." and ".." segments from the path out[start, end) in place and returns its new end.
// The output never outruns the input, so reading and writing share the buffer; where a rule
// turns the rest of the input into "/", that '/' is written over a consumed byte of the input.
size_t removeDotSegments(char* out, size_t start, size_t end) {
    size_t in = start;
    size_t o = start;
    while (in < end) {
        size_t left = end - in;
        const char* p = out + in;
        if (left >= 3 && std::memcmp(p, "../", 3) == 0) {
            in += 3;
        } else if (left >= 2 && std::memcmp(p, "./", 2) == 0) {
            in += 2;
        } else if (left >= 3 && std::memcmp(p, "/./", 3) == 0) {
            in += 2;
        } else if (left == 2 && std::memcmp(p, "/.", 2) == 0) {
            in += 1;
            out[in] = '/';
        } else if ((left >= 4 && std::memcmp(p, "/../", 4) == 0) ||
                   (left == 3 && std::memcmp(p, "/..", 3) == 0)) {
            if (left == 3) {
                in += 2;
                out[in] = '/';
            } else {
                in += 3;
            }
            while (o > start && out[o - 1] != '/')
                --o;
            if (o > start)
                --o; // the '/' that began the dropped segment
        } else if ((left == 1 && p[0] == '.') || (left == 2 && std::memcmp(p, "..", 2) == 0)) {
            in = end;
        } else {
            // Moves one segment, with its leading '/', to the output.
            size_t segmentEnd = in + 1;
            while (segmentEnd < end && out[segmentEnd] != '/')
                ++segmentEnd;
            std::memmove(out + o, out + in, segmentEnd - in);
            o += segmentEnd - in;
            in = segmentEnd;
        }
    }
    return o;
}

} // namespace

bool hasScheme(const char* text) {
    // The zero ends the scan as any byte that no scheme holds does: no need to measure the text.
    return schemeLength(text, static_cast<size_t>(-1)) != 0;
}

bool resolveUrl(const char* base, const char* reference, char* out, size_t outSize) {
    if (out == nullptr || outSize == 0)
        return false;
    out[0] = '\0';
    if (base == nullptr || reference == nullptr)
        return false;

    const char* ref = reference;
    size_t refLength = std::strlen(ref);
    while (refLength > 0 && isBlank(*ref))
        ++ref, --refLength;
    while (refLength > 0 && isBlank(ref[refLength - 1]))
        --refLength;

    Writer w{out, outSize, 0, false};
    if (schemeLength(ref, refLength) != 0) {
        append(w, ref, refLength);
    } else {
        size_t baseLength = std::strlen(base);
        size_t baseScheme = schemeLength(base, baseLength);
        if (baseScheme == 0)
            return false;
        // The base's pieces: authority [authorityStart, pathStart), path [pathStart, queryStart),
        // query [queryStart, fragmentStart).
        size_t fragmentStart = findAny(base, baseScheme + 1, baseLength, "#");
        size_t authorityStart = baseScheme + 1;
        size_t pathStart = authorityStart;
        bool hasAuthority = fragmentStart - authorityStart >= 2 && base[authorityStart] == '/' &&
                            base[authorityStart + 1] == '/';
        if (hasAuthority)
            pathStart = findAny(base, authorityStart + 2, fragmentStart, "/?");
        size_t queryStart = findAny(base, pathStart, fragmentStart, "?");

        append(w, base, baseScheme + 1);
        if (refLength >= 2 && ref[0] == '/' && ref[1] == '/') {
            append(w, ref, refLength);
        } else {
            append(w, base + authorityStart, pathStart - authorityStart);
            if (refLength == 0 || ref[0] == '#') {
                append(w, base + pathStart, fragmentStart - pathStart);
            } else if (ref[0] == '?') {
                append(w, base + pathStart, queryStart - pathStart);
            } else if (ref[0] != '/') {
                // Merged with the base path up to its last '/'.
                size_t lastSlash = queryStart;
                while (lastSlash > pathStart && base[lastSlash - 1] != '/')
                    --lastSlash;
                if (hasAuthority && queryStart == pathStart)
                    append(w, "/", 1);
                else
                    append(w, base + pathStart, lastSlash - pathStart);
            }
            append(w, ref, refLength);
        }
    }
    if (w.overflow) {
        out[0] = '\0';
        return false;
    }
    out[w.used] = '\0';

    // The path of the result: after "scheme:" and any "//authority", up to a '?' or '#'.
    size_t scheme = schemeLength(out, w.used);
    size_t path = scheme + 1;
    if (w.used - path >= 2 && out[path] == '/' && out[path + 1] == '/')
        path = findAny(out, path + 2, w.used, "/?#");
    size_t pathEnd = findAny(out, path, w.used, "?#");
    size_t newEnd = removeDotSegments(out, path, pathEnd);
    if (newEnd != pathEnd) {
        std::memmove(out + newEnd, out + pathEnd, w.used - pathEnd + 1);
    }
    return true;
}
