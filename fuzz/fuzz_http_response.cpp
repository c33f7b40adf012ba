// Fuzzes the response stage as both clients drive it. The first input byte picks the mode (raw
// socket bytes, or a header block followed by the body as a de-chunking client hands it over) and
// whether plain bodies are received straight into the body; the next two seed the points where
// the rest is split into pieces. The same response is then fed once more in one piece: however a
// response arrives, the caller must see the same outcome.
//
// Checked after every call: the body is zero-terminated and within the cap, the memory the stage
// holds stays bounded, kept headers carry no control characters, and an outcome, once reached, is
// final. Leaks are reported by the
// sanitizer.
#include "feed/http_response.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Outcome {
    ResponseProgress progress;
    int status;
    std::string failure, body, contentType, etag, location;
};

// A kept field never holds a control character (tab aside), so none can start a header line in
// a request built from it.
bool isClean(const char* text) {
    for (; *text; ++text) {
        unsigned char c = static_cast<unsigned char>(*text);
        if ((c < 0x20 && c != '\t') || c == 0x7f)
            return false;
    }
    return true;
}

void checkRecord(const HttpResponse& r) {
    FUZZ_CHECK(isClean(r.statusText) && isClean(r.contentType) && isClean(r.etag));
    FUZZ_CHECK(isClean(r.lastModified) && isClean(r.retryAfter) && isClean(r.location));
    FUZZ_CHECK(r.body != nullptr);
    FUZZ_CHECK(r.bodyLength <= responseBodyCap);
    FUZZ_CHECK(r.body[r.bodyLength] == 0);
    FUZZ_CHECK(responseMemoryPeak(&r) <= responseBodyCap + (2u << 20));
    FUZZ_CHECK(std::memchr(r.statusText, 0, sizeof r.statusText) != nullptr);
    FUZZ_CHECK(std::memchr(r.location, 0, sizeof r.location) != nullptr);
}

// Ends of the header block: after the first empty line, or the whole input when there is none.
size_t headerBlockEnd(const char* data, size_t size) {
    for (size_t i = 0; i + 1 < size; ++i) {
        if (data[i] == '\n' && data[i + 1] == '\n')
            return i + 2;
        if (data[i] == '\n' && data[i + 1] == '\r' && i + 2 < size && data[i + 2] == '\n')
            return i + 3;
    }
    return size;
}

Outcome run(const char* data, size_t size, bool raw, bool receiveArea, uint32_t seed, bool split) {
    HttpResponse r;
    FUZZ_CHECK(beginResponse(&r, raw));
    ResponseProgress progress = responseNeedMore;
    size_t at = 0;
    if (!raw) {
        at = headerBlockEnd(data, size);
        char* headers = static_cast<char*>(std::malloc(at ? at : 1));
        std::memcpy(headers, data, at);
        progress = setResponseHeaders(&r, headers, at);
        std::free(headers);
        checkRecord(r);
    }
    while (at < size && progress == responseNeedMore) {
        size_t piece = size - at;
        if (split) {
            seed = seed * 1103515245u + 12345u;
            size_t choice = (seed >> 16) % 64 + 1;
            piece = (seed >> 8) % 5 == 0 ? choice * 61 : choice;
            if (piece > size - at)
                piece = size - at;
        }
        size_t room = 0;
        char* area = receiveArea ? responseReceiveArea(&r, piece, &room) : nullptr;
        if (area) {
            FUZZ_CHECK(room > 0);
            if (piece > room)
                piece = room;
            std::memcpy(area, data + at, piece);
            progress = commitResponseReceive(&r, piece);
        } else {
            FUZZ_CHECK(room == 0);
            // An exact-size copy: a read past the piece is caught at once.
            char* copy = static_cast<char*>(std::malloc(piece ? piece : 1));
            std::memcpy(copy, data + at, piece);
            progress = feedResponse(&r, copy, piece);
            std::free(copy);
        }
        at += piece;
        checkRecord(r);
    }
    if (progress == responseNeedMore)
        progress = finishResponse(&r);
    FUZZ_CHECK(progress != responseNeedMore);
    checkRecord(r);
    // An outcome is final.
    FUZZ_CHECK(feedResponse(&r, "HTTP/1.1 200 OK\r\n\r\nx", 20) == progress);
    FUZZ_CHECK(finishResponse(&r) == progress);
    FUZZ_CHECK((progress == responseFailed) == (r.failureReason[0] != 0));
    checkRecord(r);

    Outcome o;
    o.progress = progress;
    o.status = r.status;
    o.failure = r.failureReason;
    o.body.assign(r.body, r.bodyLength);
    o.contentType = r.contentType;
    o.etag = r.etag;
    o.location = r.location;
    size_t length = 0;
    char* body = takeResponseBody(&r, &length);
    FUZZ_CHECK(body && length == o.body.size() && body[length] == 0);
    std::free(body);
    endResponse(&r);
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size < 3)
        return 0;
    bool raw = (input[0] & 1) == 0;
    bool receiveArea = (input[0] & 2) != 0;
    uint32_t seed = uint32_t(input[1]) << 8 | input[2];
    const char* data = reinterpret_cast<const char*>(input + 3);
    size -= 3;

    Outcome split = run(data, size, raw, receiveArea, seed, true);
    Outcome whole = run(data, size, raw, false, 0, false);
    FUZZ_CHECK(split.progress == whole.progress);
    FUZZ_CHECK(split.status == whole.status);
    FUZZ_CHECK(split.failure == whole.failure);
    FUZZ_CHECK(split.contentType == whole.contentType);
    FUZZ_CHECK(split.etag == whole.etag);
    FUZZ_CHECK(split.location == whole.location);
    // A failure may come at a different byte of the body when the pieces differ (a cap crossed
    // in the middle of a piece keeps what fitted), so bodies are compared for successes.
    FUZZ_CHECK(split.progress != responseComplete || split.body == whole.body);
    return 0;
}
