// The response stage shared by both HTTP clients: it reads the status line and headers, removes a
// chunked transfer coding, inflates gzip and deflate bodies, stops at Content-Length, and keeps the
// decoded body within a size cap. Portable: no Win32 headers, built natively too.
#pragma once
#include <cstddef>

// The decoded body is never larger than this (32 MiB); a larger one fails with "feed too large".
const size_t responseBodyCap = 32u << 20;
// A header line (or a chunk-size line) longer than this fails the response (64 KiB).
const size_t responseLineCap = 64u << 10;
// The longest Location, ETag or Last-Modified value kept (8 KiB): these are kept whole or not at
// all, since a cut address leads elsewhere and a cut validator never matches.
const size_t responseWholeFieldLimit = 8192;

enum ResponseProgress {
    responseNeedMore, // give it more bytes (or call finishResponse when the peer closed)
    responseComplete, // the body is whole (Content-Length reached, last chunk read), or the
                      // status is not 2xx: then the response is complete at the end of its
                      // headers with no body, which is never read; stop reading
    responseFailed,   // the response cannot be used; failureReason says why
};

struct HttpResponse {
    int status;          // 0 until the status line is read; interim 1xx responses are skipped
    char statusText[64]; // "Not Found": the reason phrase, cut to fit, control characters blanked
    // The headers the caller keeps, as sent; empty when absent or when the value holds a control
    // character (so none can carry a line break into a request or an address). Folded lines are
    // unfolded first. Content-Type and Retry-After are cut to fit; the others are kept whole up
    // to responseWholeFieldLimit bytes and left empty when longer.
    char contentType[256];
    char etag[responseWholeFieldLimit + 1];
    char lastModified[responseWholeFieldLimit + 1];
    char retryAfter[64];
    char location[responseWholeFieldLimit + 1];
    bool locationTooLong; // a Location came that was longer than responseWholeFieldLimit
    // The WWW-Authenticate and the Proxy-Authenticate lines, each name's lines joined with ", ";
    // a line with a control character, or one that does not fit whole, is left out.
    char authenticate[2048];
    char proxyAuthenticate[1024];
    // Why responseFailed came: "not an HTTP response", "header line too long", "headers too
    // large", "bad Content-Length", "unsupported content encoding", "unsupported transfer
    // encoding" (chunked not the last transfer coding), "broken chunked encoding",
    // "broken compressed data", "connection closed early", "feed too large", "out of memory".
    char failureReason[128];
    // The decoded body, zero-terminated (terminator not counted); owned. Never null from
    // beginResponse until takeResponseBody or endResponse; a failed response keeps what arrived.
    char* body;
    size_t bodyLength;
    // The rest is the stage's own state.
    struct ResponseState* state;
};

// Prepares response for a new response (a record in use is ended with endResponse first).
// rawTransfer: the bytes fed start with the status line and may carry a chunked coding (a plain
// socket); false: the headers come through setResponseHeaders and the bytes fed are the body with
// any transfer coding already removed (a client such as WinHTTP that de-chunks itself). Content
// codings (gzip, deflate) are always decoded here. False when memory runs out.
bool beginResponse(HttpResponse* response, bool rawTransfer);
// For a non-raw response: the status line and headers as one block (lines end in CRLF or LF).
// Decides the framing: complete at once for a status other than 2xx and for 204, else body bytes
// follow through feedResponse (ending at Content-Length when given, else at finishResponse).
ResponseProgress setResponseHeaders(HttpResponse* response, const char* headers, size_t length);
// Feeds bytes as they arrive, in pieces of any size. Once complete or failed, further bytes change
// nothing and the same outcome is returned (bytes past Content-Length are ignored).
ResponseProgress feedResponse(HttpResponse* response, const char* data, size_t length);
// The peer closed the connection: complete when what arrived is a whole response (a body without
// Content-Length ends with the connection), failed when it was cut short.
ResponseProgress finishResponse(HttpResponse* response);
// Releases the body and the state; the record can be begun again.
void endResponse(HttpResponse* response);
// Takes the body out of the record (the caller frees it with free()); the record keeps none.
char* takeResponseBody(HttpResponse* response, size_t* length);

// Receiving straight into the body, without a copy, while the body is plain (after the headers,
// not chunked, not compressed): a writable area at the end of the body of *room bytes (about
// `wanted`, never past Content-Length); nullptr with *room 0 when the bytes must go through
// feedResponse instead. The area stays valid until the next call on the record. After receiving
// n bytes into it (0 is allowed), commitResponseReceive counts them as fed.
//   char* area = responseReceiveArea(&r, 1 << 20, &room);
//   if (area) { n = recv(s, area, room, 0); progress = commitResponseReceive(&r, n); }
//   else      { n = recv(s, buffer, size, 0); progress = feedResponse(&r, buffer, n); }
char* responseReceiveArea(HttpResponse* response, size_t wanted, size_t* room);
ResponseProgress commitResponseReceive(HttpResponse* response, size_t length);

// The most memory the stage held for this response at any time (body buffer, line buffer, zlib's
// state), in bytes.
size_t responseMemoryPeak(const HttpResponse* response);
