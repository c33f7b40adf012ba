// The response stage shared by both HTTP clients. Bytes pass through three layers: the message
// framing (status line, headers, and in raw mode the chunked transfer coding), the content coding
// (gzip or deflate, inflated with zlib) and the body buffer, which grows geometrically up to
// responseBodyCap. Every layer works on whatever piece of the stream arrives, so a response split
// at any byte gives the same result as one fed whole.
#include "feed/http_response.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

enum Phase {
    phaseStatusLine,  // waiting for "HTTP/1.x NNN reason"
    phaseHeaders,     // header lines up to the empty line
    phaseBody,        // body bytes, up to Content-Length or the peer's close
    phaseChunkSize,   // a chunk-size line: hex size, optional ";extension"
    phaseChunkData,   // the bytes of a chunk
    phaseChunkEnd,    // the line break after a chunk's bytes
    phaseTrailers,    // trailer header lines after the last chunk, up to the empty line
    phaseWaitHeaders, // header-block mode: setResponseHeaders has not come yet
    phaseComplete,
    phaseFailed,
};

enum Coding { codingIdentity, codingGzip, codingDeflate };

// A status line, a header or a chunk-size line must end within this many bytes of the line cap
// (room for the CR before the LF).
const size_t lineBufferLimit = responseLineCap + 1;
// All status and header lines of one response together (interim 1xx responses included), so a
// server that sends header lines without end cannot keep a fetch busy forever.
const size_t headerTotalCap = 1u << 20;
// The body buffer starts this small and doubles.
const size_t initialBodyCapacity = 4096;
// Inflating asks for at least this much free room in the body at a time.
const size_t minimumGrowth = 16384;

} // namespace

struct ResponseState {
    bool raw;
    Phase phase;

    // The line being assembled (status, header, chunk-size or trailer line), without its LF.
    char* line;
    size_t lineLength;
    size_t lineCapacity;
    size_t headerBytes; // every header line so far, for headerTotalCap
    bool sawAnyByte;    // anything at all arrived (tells an empty reply from a cut one)

    // The last header line read, held back until the next line shows whether it continues (an
    // obsolete folded line, starting with a blank, is joined to it with one blank).
    char* pending;
    size_t pendingLength;
    size_t pendingCapacity;
    bool hasPending;

    // Framing.
    bool chunked;
    bool chunkedLast;   // "chunked" was the last transfer coding named so far
    bool transferCoded; // a Transfer-Encoding came, so Content-Length does not frame the body
    bool haveContentLength;
    uint64_t contentLength; // transfer bytes announced (the encoded size when compressed)
    uint64_t transferred;   // body transfer bytes consumed so far (after de-chunking)
    uint64_t chunkRemaining;

    // Content coding.
    Coding coding;
    bool inflaterReady;
    bool inflaterEnded;    // the compressed stream reached its end; anything after it is ignored
    bool memberMayFollow;  // a gzip member ended: another may start with the next byte
    bool inflaterUsed;     // at least one byte went into the compressed layer
    unsigned char head[2]; // the first two compressed bytes, which choose zlib/gzip or raw deflate
    size_t headLength;
    z_stream inflater;

    size_t bodyCapacity; // bytes allocated for body, terminator included
    size_t areaRoom;     // the room last handed out by responseReceiveArea

    // Memory held by the stage (body, line buffer, zlib's windows), and the most it ever held.
    size_t memoryInUse;
    size_t memoryPeak;
};

namespace {

void noteMemory(ResponseState* state, size_t added, size_t removed) {
    state->memoryInUse = state->memoryInUse + added - removed;
    if (state->memoryInUse > state->memoryPeak)
        state->memoryPeak = state->memoryInUse;
}

// zlib allocates through these so that its windows count towards the stage's memory; each block
// carries its size in front.
voidpf zlibAlloc(voidpf opaque, uInt items, uInt size) {
    if (size != 0 && items > (SIZE_MAX - 16) / size)
        return Z_NULL;
    size_t bytes = size_t(items) * size;
    size_t* block = static_cast<size_t*>(std::malloc(bytes + 16));
    if (!block)
        return Z_NULL;
    block[0] = bytes;
    noteMemory(static_cast<ResponseState*>(opaque), bytes, 0);
    return reinterpret_cast<char*>(block) + 16;
}

void zlibFree(voidpf opaque, voidpf address) {
    if (!address)
        return;
    size_t* block = reinterpret_cast<size_t*>(static_cast<char*>(address) - 16);
    noteMemory(static_cast<ResponseState*>(opaque), 0, block[0]);
    std::free(block);
}

// Ends the response as failed with the first reason given; an outcome already reached stays.
ResponseProgress fail(HttpResponse* response, const char* reason) {
    ResponseState* state = response->state;
    if (state && state->phase == phaseComplete)
        return responseComplete;
    if (state)
        state->phase = phaseFailed;
    if (response->failureReason[0] == 0) {
        std::strncpy(response->failureReason, reason, sizeof response->failureReason - 1);
        response->failureReason[sizeof response->failureReason - 1] = 0;
    }
    return responseFailed;
}

ResponseProgress progressOf(const HttpResponse* response) {
    if (!response->state)
        return responseFailed;
    switch (response->state->phase) {
    case phaseComplete:
        return responseComplete;
    case phaseFailed:
        return responseFailed;
    default:
        return responseNeedMore;
    }
}

// Makes room for at least `wanted` more body bytes plus the terminator, doubling the buffer (or to
// exactly that size when `exact`, for a body whose length is announced), but never beyond
// responseBodyCap + 2 bytes (one byte over the cap is how a too large body shows).
bool reserveBody(HttpResponse* response, size_t wanted, bool exact = false) {
    ResponseState* state = response->state;
    const size_t most = responseBodyCap + 2;
    size_t needed = wanted > most ? most : response->bodyLength + wanted + 1;
    if (needed > most)
        needed = most;
    if (needed <= state->bodyCapacity)
        return true;
    size_t capacity = exact ? needed : state->bodyCapacity;
    if (capacity < initialBodyCapacity)
        capacity = initialBodyCapacity;
    // Doubling that would reach the cap takes the whole allowance at once, so the last step does
    // not copy a full buffer only to add two bytes.
    while (capacity < needed)
        capacity = capacity >= responseBodyCap / 2 ? most : capacity * 2;
    char* body = static_cast<char*>(std::realloc(response->body, capacity));
    if (!body)
        return false;
    noteMemory(state, capacity, state->bodyCapacity);
    response->body = body;
    state->bodyCapacity = capacity;
    return true;
}

// Appends decoded body bytes.
ResponseProgress appendBody(HttpResponse* response, const char* data, size_t length) {
    if (length > responseBodyCap - response->bodyLength)
        return fail(response, "feed too large");
    if (!reserveBody(response, length))
        return fail(response, "out of memory");
    std::memcpy(response->body + response->bodyLength, data, length);
    response->bodyLength += length;
    response->body[response->bodyLength] = 0;
    return responseNeedMore;
}

// Starts zlib once the first two compressed bytes are known: a zlib or gzip header goes to
// inflate's automatic detection, anything else is taken as raw deflate, which some servers send
// as "deflate".
bool startInflater(HttpResponse* response) {
    ResponseState* state = response->state;
    unsigned first = state->head[0], second = state->head[1];
    bool gzipMagic = first == 0x1f && second == 0x8b;
    bool zlibHeader = (first & 0x0f) == 8 && (first >> 4) <= 7 && ((first << 8) | second) % 31 == 0;
    int windowBits = (gzipMagic || zlibHeader) ? 15 + 32 : -15;
    state->inflater.zalloc = zlibAlloc;
    state->inflater.zfree = zlibFree;
    state->inflater.opaque = state;
    state->inflater.next_in = Z_NULL;
    state->inflater.avail_in = 0;
    if (inflateInit2(&state->inflater, windowBits) != Z_OK)
        return false;
    state->inflaterReady = true;
    return true;
}

// Runs bytes of the compressed stream through zlib into the body.
ResponseProgress inflateInto(HttpResponse* response, const unsigned char* data, size_t length) {
    ResponseState* state = response->state;
    z_stream* z = &state->inflater;
    while (length > 0) {
        if (state->memberMayFollow) {
            // A gzip body may hold several members one after another; anything else after the
            // end of the stream is padding and is ignored.
            state->memberMayFollow = false;
            if (data[0] == 0x1f && inflateReset(z) == Z_OK)
                state->inflaterEnded = false;
        }
        if (state->inflaterEnded)
            break;
        uInt piece = length > 0x40000000u ? 0x40000000u : uInt(length);
        z->next_in = const_cast<unsigned char*>(data);
        z->avail_in = piece;
        while (z->avail_in > 0) {
            if (!reserveBody(response, minimumGrowth))
                return fail(response, "out of memory");
            size_t room = state->bodyCapacity - 1 - response->bodyLength;
            if (room == 0)
                return fail(response, "feed too large");
            uInt outRoom = room > 0x40000000u ? 0x40000000u : uInt(room);
            z->next_out = reinterpret_cast<unsigned char*>(response->body + response->bodyLength);
            z->avail_out = outRoom;
            int result = inflate(z, Z_NO_FLUSH);
            response->bodyLength += outRoom - z->avail_out;
            if (response->bodyLength > responseBodyCap) {
                // Inflating stops here, so a small body that expands without end (a
                // decompression bomb) costs no more than the cap.
                response->bodyLength = responseBodyCap;
                response->body[response->bodyLength] = 0;
                return fail(response, "feed too large");
            }
            response->body[response->bodyLength] = 0;
            if (result == Z_STREAM_END) {
                state->inflaterEnded = true;
                state->memberMayFollow = state->coding == codingGzip;
                break;
            }
            if (result == Z_MEM_ERROR)
                return fail(response, "out of memory");
            if (result != Z_OK && !(result == Z_BUF_ERROR && z->avail_out == 0))
                return fail(response, "broken compressed data");
        }
        size_t consumed = piece - z->avail_in;
        data += consumed;
        length -= consumed;
    }
    return responseNeedMore;
}

// Decodes transfer-body bytes (already de-chunked) by the content coding.
ResponseProgress decodeBody(HttpResponse* response, const char* data, size_t length) {
    ResponseState* state = response->state;
    if (length == 0)
        return responseNeedMore;
    if (state->coding == codingIdentity)
        return appendBody(response, data, length);
    state->inflaterUsed = true;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    if (!state->inflaterReady) {
        while (state->headLength < 2 && length > 0) {
            state->head[state->headLength++] = *bytes++;
            --length;
        }
        if (state->headLength < 2)
            return responseNeedMore;
        if (!startInflater(response))
            return fail(response, "out of memory");
        ResponseProgress progress = inflateInto(response, state->head, 2);
        if (progress != responseNeedMore)
            return progress;
    }
    return inflateInto(response, bytes, length);
}

// The body is whole as far as the framing goes; a compressed body must also have reached the end
// of its stream.
ResponseProgress completeBody(HttpResponse* response, const char* reasonWhenCut) {
    ResponseState* state = response->state;
    if (state->coding != codingIdentity && state->inflaterUsed && !state->inflaterEnded)
        return fail(response, reasonWhenCut);
    state->phase = phaseComplete;
    return responseComplete;
}

bool equalsIgnoringCase(const char* a, size_t aLength, const char* b) {
    size_t bLength = std::strlen(b);
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

void trim(const char** text, size_t* length) {
    while (*length > 0 && (isBlank(**text) || **text == '\r')) {
        ++*text;
        --*length;
    }
    while (*length > 0 && (isBlank((*text)[*length - 1]) || (*text)[*length - 1] == '\r'))
        --*length;
}

bool isControl(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7f;
}

// Keeps a header value, cut to fit. The kept values go back out in requests (ETag,
// Last-Modified) and into addresses (Location), so a value with a control character (a bare CR,
// a NUL) is not kept at all: it could otherwise start a header line of its own.
// A whole field (validators, Location) is left empty instead of cut; false then.
bool keepValue(char* field, size_t size, const char* value, size_t length, bool whole = false) {
    for (size_t i = 0; i < length; ++i) {
        if (isControl(value[i])) {
            field[0] = 0;
            return true;
        }
    }
    if (length > size - 1 && whole) {
        field[0] = 0;
        return false;
    }
    if (length > size - 1)
        length = size - 1;
    std::memcpy(field, value, length);
    field[length] = 0;
    return true;
}

// Adds a header line's value to the list of that name's values, whole or not at all.
void appendValue(char* field, size_t size, const char* value, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (isControl(value[i]))
            return;
    }
    size_t used = std::strlen(field);
    size_t separator = used > 0 ? 2 : 0;
    if (length == 0 || used + separator + length + 1 > size)
        return;
    std::memcpy(field + used, ", ", separator);
    std::memcpy(field + used + separator, value, length);
    field[used + separator + length] = 0;
}

// Reads a comma-separated coding list (Content-Encoding, or the codings of Transfer-Encoding
// before "chunked") into state->coding. False for a coding this stage cannot undo, or for more
// than one compression layer.
bool addCodings(ResponseState* state, const char* value, size_t length, bool transfer) {
    size_t start = 0;
    while (start <= length) {
        size_t end = start;
        while (end < length && value[end] != ',')
            ++end;
        const char* token = value + start;
        size_t tokenLength = end - start;
        trim(&token, &tokenLength);
        start = end + 1;
        if (tokenLength == 0 || equalsIgnoringCase(token, tokenLength, "identity"))
            continue;
        if (transfer && equalsIgnoringCase(token, tokenLength, "chunked")) {
            // Chunked twice is no framing anyone can read.
            if (state->chunked)
                return false;
            state->chunked = true;
            state->chunkedLast = true;
            continue;
        }
        if (transfer)
            state->chunkedLast = false;
        Coding coding;
        if (equalsIgnoringCase(token, tokenLength, "gzip") ||
            equalsIgnoringCase(token, tokenLength, "x-gzip"))
            coding = codingGzip;
        else if (equalsIgnoringCase(token, tokenLength, "deflate"))
            coding = codingDeflate;
        else
            return false;
        if (state->coding != codingIdentity)
            return false;
        state->coding = coding;
    }
    return true;
}

// Parses a decimal Content-Length; false when it is not one.
bool parseLength(const char* value, size_t length, uint64_t* result) {
    if (length == 0)
        return false;
    uint64_t number = 0;
    for (size_t i = 0; i < length; ++i) {
        if (value[i] < '0' || value[i] > '9')
            return false;
        unsigned digit = unsigned(value[i] - '0');
        if (number > (UINT64_MAX - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    *result = number;
    return true;
}

// One whole (unfolded) header line. Interim (1xx) responses' headers are read but not kept.
ResponseProgress applyHeaderLine(HttpResponse* response, const char* line, size_t length) {
    ResponseState* state = response->state;
    const char* colon = static_cast<const char*>(std::memchr(line, ':', length));
    if (!colon)
        return responseNeedMore; // not a header: ignored, as browsers do
    const char* name = line;
    size_t nameLength = size_t(colon - line);
    trim(&name, &nameLength);
    const char* value = colon + 1;
    size_t valueLength = length - size_t(value - line);
    trim(&value, &valueLength);
    if (response->status < 200)
        return responseNeedMore;

    if (equalsIgnoringCase(name, nameLength, "content-type"))
        keepValue(response->contentType, sizeof response->contentType, value, valueLength);
    else if (equalsIgnoringCase(name, nameLength, "etag"))
        keepValue(response->etag, sizeof response->etag, value, valueLength, true);
    else if (equalsIgnoringCase(name, nameLength, "last-modified"))
        keepValue(response->lastModified, sizeof response->lastModified, value, valueLength, true);
    else if (equalsIgnoringCase(name, nameLength, "retry-after"))
        keepValue(response->retryAfter, sizeof response->retryAfter, value, valueLength);
    else if (equalsIgnoringCase(name, nameLength, "www-authenticate"))
        appendValue(response->authenticate, sizeof response->authenticate, value, valueLength);
    else if (equalsIgnoringCase(name, nameLength, "proxy-authenticate"))
        appendValue(response->proxyAuthenticate, sizeof response->proxyAuthenticate, value,
                    valueLength);
    else if (equalsIgnoringCase(name, nameLength, "location"))
        response->locationTooLong =
            !keepValue(response->location, sizeof response->location, value, valueLength, true);
    else if (equalsIgnoringCase(name, nameLength, "content-encoding")) {
        if (!addCodings(state, value, valueLength, false))
            return fail(response, "unsupported content encoding");
    } else if (equalsIgnoringCase(name, nameLength, "transfer-encoding")) {
        // A client that removed the transfer coding itself has also removed its chunks.
        if (!addCodings(state, value, valueLength, true))
            return fail(response, "unsupported content encoding");
        state->transferCoded = true;
        if (!state->raw)
            state->chunked = false;
    } else if (equalsIgnoringCase(name, nameLength, "content-length")) {
        uint64_t contentLength = 0;
        if (!parseLength(value, valueLength, &contentLength) ||
            (state->haveContentLength && state->contentLength != contentLength))
            return fail(response, "bad Content-Length");
        state->haveContentLength = true;
        state->contentLength = contentLength;
    }
    return responseNeedMore;
}

// Hands the header line held back to applyHeaderLine.
ResponseProgress flushPendingHeader(HttpResponse* response) {
    ResponseState* state = response->state;
    if (!state->hasPending)
        return responseNeedMore;
    state->hasPending = false;
    return applyHeaderLine(response, state->pending, state->pendingLength);
}

// Appends to the held-back line, within the line cap.
bool addToPending(HttpResponse* response, const char* text, size_t length) {
    ResponseState* state = response->state;
    size_t needed = state->pendingLength + length;
    if (needed > responseLineCap)
        return false;
    if (needed > state->pendingCapacity) {
        size_t capacity = state->pendingCapacity ? state->pendingCapacity : 256;
        while (capacity < needed)
            capacity *= 2;
        char* pending = static_cast<char*>(std::realloc(state->pending, capacity));
        if (!pending)
            return false;
        noteMemory(state, capacity, state->pendingCapacity);
        state->pending = pending;
        state->pendingCapacity = capacity;
    }
    std::memcpy(state->pending + state->pendingLength, text, length);
    state->pendingLength = needed;
    return true;
}

// One header line as it arrived (without its line feed). A line starting with a blank continues
// the one before it; any other line is held back until the next shows it is whole.
ResponseProgress readHeaderLine(HttpResponse* response, const char* line, size_t length) {
    ResponseState* state = response->state;
    if (length > 0 && line[length - 1] == '\r')
        --length;
    if (length > 0 && isBlank(line[0])) {
        if (!state->hasPending)
            return responseNeedMore; // continues nothing: ignored
        trim(&line, &length);
        if (length > 0 && !(addToPending(response, " ", 1) && addToPending(response, line, length)))
            return fail(response, "header line too long");
        return responseNeedMore;
    }
    if (flushPendingHeader(response) == responseFailed)
        return responseFailed;
    state->pendingLength = 0;
    if (!addToPending(response, line, length))
        return fail(response, "header line too long");
    state->hasPending = true;
    return responseNeedMore;
}

// "HTTP/1.1 404 Not Found": version, three-digit status, optional reason phrase.
bool readStatusLine(HttpResponse* response, const char* line, size_t length) {
    if (length > 0 && line[length - 1] == '\r')
        --length;
    if (length < 12 || std::memcmp(line, "HTTP/", 5) != 0)
        return false;
    if (line[5] < '0' || line[5] > '9' || line[6] != '.' || line[7] < '0' || line[7] > '9' ||
        line[8] != ' ')
        return false;
    size_t at = 9;
    while (at < length && line[at] == ' ')
        ++at;
    if (length - at < 3)
        return false;
    int status = 0;
    for (int i = 0; i < 3; ++i) {
        char c = line[at + size_t(i)];
        if (c < '0' || c > '9')
            return false;
        status = status * 10 + (c - '0');
    }
    at += 3;
    if (status < 100 || status > 599 || (at < length && line[at] != ' '))
        return false;
    const char* reason = line + at;
    size_t reasonLength = length - at;
    trim(&reason, &reasonLength);
    response->status = status;
    // The reason phrase is only shown: control characters in it become blanks.
    if (reasonLength > sizeof response->statusText - 1)
        reasonLength = sizeof response->statusText - 1;
    for (size_t i = 0; i < reasonLength; ++i)
        response->statusText[i] = isControl(reason[i]) ? ' ' : reason[i];
    response->statusText[reasonLength] = 0;
    return true;
}

// The empty line after the headers: decides how the body is framed.
ResponseProgress endOfHeaders(HttpResponse* response) {
    ResponseState* state = response->state;
    if (flushPendingHeader(response) == responseFailed)
        return responseFailed;
    if (response->status < 200) {
        if (!state->raw)
            return fail(response, "not an HTTP response");
        // An interim response (100 Continue, 103 Early Hints): the real one follows.
        state->phase = phaseStatusLine;
        state->chunked = false;
        state->chunkedLast = false;
        state->transferCoded = false;
        state->haveContentLength = false;
        state->coding = codingIdentity;
        return responseNeedMore;
    }
    // Only a 2xx body is ever used: any other answer (an error page, a redirect's note, a 304) is
    // complete with its status and headers, and its body, however large, is never read.
    if (response->status == 204 || response->status > 299) {
        state->phase = phaseComplete;
        return responseComplete;
    }
    // A transfer coding after chunked leaves the body readable only to the connection's close,
    // and still coded in a way no client undoes: such a response is refused.
    if (state->chunked && !state->chunkedLast)
        return fail(response, "unsupported transfer encoding");
    if (state->chunked) {
        state->phase = phaseChunkSize;
        return responseNeedMore;
    }
    if (state->transferCoded)
        state->haveContentLength = false;
    state->phase = phaseBody;
    if (state->haveContentLength) {
        if (state->contentLength == 0)
            return completeBody(response, "broken compressed data");
        // An identity body of known size gets its buffer at once; an announced size beyond the
        // cap reserves nothing special, as such a body fails (or is cut short) anyway.
        if (state->coding == codingIdentity && state->contentLength <= responseBodyCap &&
            !reserveBody(response, size_t(state->contentLength), true))
            return fail(response, "out of memory");
    }
    return responseNeedMore;
}

// Parses a chunk-size line: hex digits, then optional blanks and a ";extension".
ResponseProgress readChunkSize(HttpResponse* response, const char* line, size_t length) {
    ResponseState* state = response->state;
    if (length > 0 && line[length - 1] == '\r')
        --length;
    size_t at = 0;
    uint64_t size = 0;
    while (at < length) {
        char c = line[at];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            break;
        if (size > (UINT64_MAX >> 4))
            return fail(response, "broken chunked encoding");
        size = (size << 4) | digit;
        ++at;
    }
    if (at == 0)
        return fail(response, "broken chunked encoding");
    while (at < length && isBlank(line[at]))
        ++at;
    if (at < length && line[at] != ';')
        return fail(response, "broken chunked encoding");
    if (size == 0) {
        state->phase = phaseTrailers;
        return responseNeedMore;
    }
    state->chunkRemaining = size;
    state->phase = phaseChunkData;
    return responseNeedMore;
}

// One complete line of the framing (status, header, chunk-size, chunk end or trailer).
ResponseProgress readLine(HttpResponse* response, const char* line, size_t length) {
    ResponseState* state = response->state;
    bool empty = length == 0 || (length == 1 && line[0] == '\r');
    switch (state->phase) {
    case phaseStatusLine:
        if (empty)
            return responseNeedMore; // stray line breaks before the status line are tolerated
        if (!readStatusLine(response, line, length))
            return fail(response, "not an HTTP response");
        state->phase = phaseHeaders;
        return responseNeedMore;
    case phaseHeaders:
        if (empty)
            return endOfHeaders(response);
        return readHeaderLine(response, line, length);
    case phaseChunkSize:
        return readChunkSize(response, line, length);
    case phaseChunkEnd:
        if (!empty)
            return fail(response, "broken chunked encoding");
        state->phase = phaseChunkSize;
        return responseNeedMore;
    case phaseTrailers:
        // Trailer fields carry nothing the feed needs; the empty line ends the response.
        if (empty)
            return completeBody(response, "broken compressed data");
        return responseNeedMore;
    default:
        return responseNeedMore;
    }
}

bool inLinePhase(Phase phase) {
    return phase == phaseStatusLine || phase == phaseHeaders || phase == phaseChunkSize ||
           phase == phaseChunkEnd || phase == phaseTrailers;
}

// A raw stream must begin with "HTTP/" (after stray CRs): anything else is known to be wrong from
// its first bytes, without waiting for a line break that may never come. Looks at the line so far
// followed by the next bytes.
bool statusPrefixPossible(const char* line, size_t lineLength, const char* data, size_t length) {
    static const char prefix[] = "HTTP/";
    size_t matched = 0;
    bool started = false;
    for (size_t i = 0; i < lineLength + length && matched < 5; ++i) {
        char c = i < lineLength ? line[i] : data[i - lineLength];
        if (!started && c == '\r')
            continue;
        started = true;
        if (c != prefix[matched])
            return false;
        ++matched;
    }
    return true;
}

// Takes bytes up to and including the next LF into the line buffer; returns how many it took and
// sets *lineDone when the line is whole.
size_t collectLine(HttpResponse* response, const char* data, size_t length, bool* lineDone) {
    ResponseState* state = response->state;
    const char* newline = static_cast<const char*>(std::memchr(data, '\n', length));
    size_t take = newline ? size_t(newline - data) : length;
    *lineDone = newline != nullptr;
    if (state->phase == phaseStatusLine &&
        !statusPrefixPossible(state->line, state->lineLength, data, take)) {
        fail(response, "not an HTTP response");
        return length;
    }
    // A whole line may exceed the cap only by the CR before its LF.
    size_t whole = state->lineLength + take;
    bool tooLong = whole > lineBufferLimit;
    if (newline && whole == lineBufferLimit) {
        char last = take > 0 ? data[take - 1] : state->line[state->lineLength - 1];
        tooLong = last != '\r';
    }
    if (tooLong) {
        fail(response, "header line too long");
        return length;
    }
    bool header = state->phase == phaseStatusLine || state->phase == phaseHeaders ||
                  state->phase == phaseTrailers;
    if (header && newline) {
        state->headerBytes += state->lineLength + take + 1;
        if (state->headerBytes > headerTotalCap) {
            fail(response, "headers too large");
            return length;
        }
    }
    size_t needed = state->lineLength + take;
    if (needed > state->lineCapacity) {
        size_t capacity = state->lineCapacity ? state->lineCapacity : 256;
        while (capacity < needed)
            capacity *= 2;
        if (capacity > lineBufferLimit)
            capacity = lineBufferLimit;
        char* line = static_cast<char*>(std::realloc(state->line, capacity));
        if (!line) {
            fail(response, "out of memory");
            return length;
        }
        noteMemory(state, capacity, state->lineCapacity);
        state->line = line;
        state->lineCapacity = capacity;
    }
    if (take > 0)
        std::memcpy(state->line + state->lineLength, data, take);
    state->lineLength += take;
    return take + (newline ? 1 : 0);
}

// Body bytes of the transfer (in raw mode after the headers; otherwise everything fed).
ResponseProgress consumeBody(HttpResponse* response, const char* data, size_t length,
                             size_t* used) {
    ResponseState* state = response->state;
    size_t take = length;
    if (state->haveContentLength) {
        uint64_t remaining = state->contentLength - state->transferred;
        if (take > remaining)
            take = size_t(remaining);
    }
    *used = take;
    state->transferred += take;
    ResponseProgress progress = decodeBody(response, data, take);
    if (progress != responseNeedMore)
        return progress;
    if (state->haveContentLength && state->transferred == state->contentLength)
        return completeBody(response, "broken compressed data");
    return responseNeedMore;
}

} // namespace

bool beginResponse(HttpResponse* response, bool rawTransfer) {
    std::memset(response, 0, sizeof *response);
    ResponseState* state = static_cast<ResponseState*>(std::calloc(1, sizeof(ResponseState)));
    if (!state)
        return false;
    char* body = static_cast<char*>(std::malloc(initialBodyCapacity));
    if (!body) {
        std::free(state);
        return false;
    }
    body[0] = 0;
    state->raw = rawTransfer;
    state->phase = rawTransfer ? phaseStatusLine : phaseWaitHeaders;
    state->bodyCapacity = initialBodyCapacity;
    noteMemory(state, initialBodyCapacity, 0);
    response->state = state;
    response->body = body;
    return true;
}

ResponseProgress setResponseHeaders(HttpResponse* response, const char* headers, size_t length) {
    ResponseState* state = response->state;
    if (!state)
        return responseFailed;
    if (state->phase != phaseWaitHeaders)
        return state->raw ? fail(response, "not an HTTP response") : progressOf(response);
    state->phase = phaseStatusLine;
    size_t at = 0;
    bool sawStatus = false;
    while (at < length && state->phase != phaseFailed) {
        const char* line = headers + at;
        const char* newline = static_cast<const char*>(std::memchr(line, '\n', length - at));
        size_t lineLength = newline ? size_t(newline - line) : length - at;
        at += lineLength + (newline ? 1 : 0);
        if (lineLength > responseLineCap &&
            (lineLength - 1 > responseLineCap || line[lineLength - 1] != '\r'))
            return fail(response, "header line too long");
        bool empty = lineLength == 0 || (lineLength == 1 && line[0] == '\r');
        if (!sawStatus) {
            if (empty)
                continue;
            if (!readStatusLine(response, line, lineLength))
                return fail(response, "not an HTTP response");
            sawStatus = true;
            state->phase = phaseHeaders;
            continue;
        }
        if (empty)
            break;
        if (readHeaderLine(response, line, lineLength) == responseFailed)
            return responseFailed;
    }
    if (!sawStatus)
        return fail(response, "not an HTTP response");
    if (state->phase == phaseFailed)
        return responseFailed;
    return endOfHeaders(response);
}

ResponseProgress feedResponse(HttpResponse* response, const char* data, size_t length) {
    ResponseState* state = response->state;
    if (!state)
        return responseFailed;
    if (state->phase == phaseWaitHeaders)
        return fail(response, "not an HTTP response");
    if (length > 0)
        state->sawAnyByte = true;
    while (length > 0) {
        Phase phase = state->phase;
        if (phase == phaseComplete || phase == phaseFailed)
            break;
        size_t used = 0;
        if (inLinePhase(phase)) {
            bool lineDone = false;
            used = collectLine(response, data, length, &lineDone);
            if (state->phase == phaseFailed)
                break;
            if (lineDone) {
                size_t lineLength = state->lineLength;
                state->lineLength = 0;
                readLine(response, state->line, lineLength);
            }
        } else if (phase == phaseBody) {
            consumeBody(response, data, length, &used);
        } else if (phase == phaseChunkData) {
            used = length;
            if (used > state->chunkRemaining)
                used = size_t(state->chunkRemaining);
            state->chunkRemaining -= used;
            if (state->chunkRemaining == 0)
                state->phase = phaseChunkEnd;
            decodeBody(response, data, used);
        }
        data += used;
        length -= used;
    }
    return progressOf(response);
}

ResponseProgress finishResponse(HttpResponse* response) {
    ResponseState* state = response->state;
    if (!state)
        return responseFailed;
    switch (state->phase) {
    case phaseComplete:
    case phaseFailed:
        return progressOf(response);
    case phaseWaitHeaders:
        return fail(response, "not an HTTP response");
    case phaseStatusLine:
        if (!state->sawAnyByte)
            return fail(response, "not an HTTP response");
        return fail(response, "connection closed early");
    case phaseBody:
        if (state->haveContentLength && state->transferred < state->contentLength)
            return fail(response, "connection closed early");
        return completeBody(response, "connection closed early");
    case phaseTrailers:
        // The last chunk came; only the end of the trailer section is missing.
        return completeBody(response, "broken compressed data");
    default:
        return fail(response, "connection closed early");
    }
}

void endResponse(HttpResponse* response) {
    ResponseState* state = response->state;
    if (state) {
        if (state->inflaterReady)
            inflateEnd(&state->inflater);
        std::free(state->line);
        std::free(state->pending);
        std::free(state);
    }
    std::free(response->body);
    response->body = nullptr;
    response->bodyLength = 0;
    response->state = nullptr;
}

char* takeResponseBody(HttpResponse* response, size_t* length) {
    char* body = response->body;
    size_t bodyLength = response->bodyLength;
    if (body && response->state && response->state->bodyCapacity > bodyLength + 1) {
        // Give back the room the doubling left over.
        char* fitted = static_cast<char*>(std::realloc(body, bodyLength + 1));
        if (fitted)
            body = fitted;
    }
    if (response->state) {
        noteMemory(response->state, 0, response->state->bodyCapacity);
        response->state->bodyCapacity = 0;
    }
    response->body = nullptr;
    response->bodyLength = 0;
    if (length)
        *length = body ? bodyLength : 0;
    return body;
}

char* responseReceiveArea(HttpResponse* response, size_t wanted, size_t* room) {
    ResponseState* state = response->state;
    *room = 0;
    if (!state || state->phase != phaseBody || state->coding != codingIdentity || !response->body)
        return nullptr;
    size_t most = responseBodyCap + 1 - response->bodyLength; // one over the cap shows too large
    if (state->haveContentLength && state->contentLength - state->transferred < most)
        most = size_t(state->contentLength - state->transferred);
    if (wanted == 0)
        wanted = 1;
    if (wanted > most)
        wanted = most;
    if (!reserveBody(response, wanted)) {
        fail(response, "out of memory");
        return nullptr;
    }
    size_t available = state->bodyCapacity - 1 - response->bodyLength;
    if (available > most)
        available = most;
    state->areaRoom = available;
    *room = available;
    return response->body + response->bodyLength;
}

ResponseProgress commitResponseReceive(HttpResponse* response, size_t length) {
    ResponseState* state = response->state;
    if (!state || state->phase != phaseBody)
        return progressOf(response);
    if (length > state->areaRoom)
        length = state->areaRoom;
    state->areaRoom = 0;
    if (length > 0)
        state->sawAnyByte = true;
    if (response->bodyLength + length > responseBodyCap) {
        response->body[response->bodyLength] = 0;
        return fail(response, "feed too large");
    }
    response->bodyLength += length;
    response->body[response->bodyLength] = 0;
    state->transferred += length;
    if (state->haveContentLength && state->transferred == state->contentLength)
        return completeBody(response, "broken compressed data");
    return responseNeedMore;
}

size_t responseMemoryPeak(const HttpResponse* response) {
    return response->state ? response->state->memoryPeak : 0;
}
