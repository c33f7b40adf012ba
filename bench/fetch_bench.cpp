// Download speed of fetchUrl on loopback, next to a bare Winsock receive loop that asks for the
// same number of bytes per recv and keeps nothing. Prints MB/s for 10 MB and 100 MB responses, the
// ratios, and how the time grows from 10 MB to 100 MB.
//
//   fetch_bench [port [curl-10MB-seconds curl-100MB-seconds]]
//
// With a port, the responses come from a server already listening on 127.0.0.1:port that answers
// "/10", "/100" and "/100n" (100 MB without a Content-Length line; scripts/bench-fetch.sh starts
// one natively and passes curl's times); without one, a server thread of this program serves them.
#include <winsock.h>
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "feed/http_fetch.h"

namespace {

const size_t megabyte = 1u << 20;
const int rounds = 3; // the best of three runs is reported

std::string responseOfSize(size_t bodyBytes, bool announced) {
    char header[128];
    std::snprintf(header, sizeof header,
                  announced ? "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                              "Content-Length: %u\r\n\r\n"
                            : "HTTP/1.0 200 OK\r\n\r\n",
                  static_cast<unsigned>(bodyBytes));
    std::string response(header);
    response.append(bodyBytes, 'x');
    return response;
}

std::string small, large, unannounced; // the in-process server's responses

DWORD WINAPI serveForever(void* argument) {
    SOCKET listener = reinterpret_cast<SOCKET>(argument);
    for (;;) {
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return 0;
        std::string request;
        char chunk[512];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 8192) {
            int count = recv(client, chunk, sizeof chunk, 0);
            if (count <= 0)
                break;
            request.append(chunk, static_cast<size_t>(count));
        }
        const std::string& body = request.compare(0, 9, "GET /100n") == 0  ? unannounced
                                  : request.compare(0, 8, "GET /100") == 0 ? large
                                                                           : small;
        size_t sent = 0;
        while (sent < body.size()) {
            int piece =
                static_cast<int>(body.size() - sent < megabyte ? body.size() - sent : megabyte);
            int count = send(client, body.data() + sent, piece, 0);
            if (count <= 0)
                break;
            sent += static_cast<size_t>(count);
        }
        shutdown(client, 1);
        closesocket(client);
    }
}

unsigned short startOwnServer() {
    small = responseOfSize(10 * megabyte, true);
    large = responseOfSize(100 * megabyte, true);
    unannounced = responseOfSize(100 * megabyte, false);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    int length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    CreateThread(nullptr, 0, serveForever, reinterpret_cast<void*>(listener), 0, nullptr);
    return ntohs(address.sin_port);
}

double now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds for one fetchUrl of path; bytes receives the length fetched (0 on failure).
double timeFetchUrl(unsigned short port, const char* path, size_t* bytes) {
    char url[64];
    std::snprintf(url, sizeof url, "http://127.0.0.1:%u%s", port, path);
    double started = now();
    char* text = fetchUrl(url);
    double took = now() - started;
    *bytes = text ? std::strlen(text) : 0;
    std::free(text);
    return took;
}

// Seconds for the same request read by a plain blocking recv loop into one reused buffer.
double timeBareLoop(unsigned short port, const char* path, size_t* bytes) {
    static char buffer[fetchReadLimit];
    double started = now();
    *bytes = 0;
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = htons(port);
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request = std::string("GET ") + path + " HTTP/1.0\r\nAccept: */*\r\nHost: " +
                              "127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
        send(socket, request.data(), static_cast<int>(request.size()), 0);
        for (;;) {
            int count = recv(socket, buffer, fetchReadLimit, 0);
            if (count <= 0)
                break;
            *bytes += static_cast<size_t>(count);
        }
    }
    closesocket(socket);
    return now() - started;
}

typedef double (*Client)(unsigned short, const char*, size_t*);

double best(Client client, unsigned short port, const char* path, size_t* bytes) {
    double fastest = 0;
    for (int i = 0; i < rounds; ++i) {
        double took = client(port, path, bytes);
        if (*bytes == 0)
            return 0;
        if (i == 0 || took < fastest)
            fastest = took;
    }
    return fastest;
}

double megabytesPerSecond(size_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / static_cast<double>(megabyte) / seconds : 0;
}

} // namespace

int main(int argc, char** argv) {
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) {
        std::printf("no Winsock 1.1\n");
        return 1;
    }
    unsigned short port =
        argc > 1 ? static_cast<unsigned short>(std::atoi(argv[1])) : startOwnServer();
    double curl10 = argc > 3 ? std::atof(argv[2]) : 0;
    double curl100 = argc > 3 ? std::atof(argv[3]) : 0;
    if (port == 0) {
        std::printf("no server\n");
        return 1;
    }
    std::printf("loopback server on port %u (%s); read size %d bytes; best of %d runs\n", port,
                argc > 1 ? "native" : "in this process", fetchReadLimit, rounds);

    size_t bytes10 = 0, bytes100 = 0, bare10Bytes = 0, bare100Bytes = 0;
    double fetch10 = best(timeFetchUrl, port, "/10", &bytes10);
    double fetch100 = best(timeFetchUrl, port, "/100", &bytes100);
    size_t bytesUnannounced = 0;
    double fetchUnannounced = best(timeFetchUrl, port, "/100n", &bytesUnannounced);
    double bare10 = best(timeBareLoop, port, "/10", &bare10Bytes);
    double bare100 = best(timeBareLoop, port, "/100", &bare100Bytes);
    if (bytes10 == 0 || bytes100 == 0 || bare10Bytes == 0 || bare100Bytes == 0) {
        std::printf("a download failed\n");
        return 1;
    }
    if (bytes10 != bare10Bytes || bytes100 != bare100Bytes)
        std::printf("warning: fetchUrl and the bare loop received different sizes\n");

    std::printf("%-28s %10s %10s %10s %10s\n", "", "10 MB s", "10 MB MB/s", "100 MB s",
                "100MB MB/s");
    std::printf("%-28s %10.3f %10.1f %10.3f %10.1f\n", "fetchUrl (Wine)", fetch10,
                megabytesPerSecond(bytes10, fetch10), fetch100,
                megabytesPerSecond(bytes100, fetch100));
    std::printf("%-28s %10.3f %10.1f %10.3f %10.1f\n", "bare recv loop (Wine)", bare10,
                megabytesPerSecond(bare10Bytes, bare10), bare100,
                megabytesPerSecond(bare100Bytes, bare100));
    if (fetchUnannounced > 0)
        std::printf("%-28s %10s %10s %10.3f %10.1f\n", "fetchUrl, no Content-Length", "", "",
                    fetchUnannounced, megabytesPerSecond(bytesUnannounced, fetchUnannounced));
    if (curl10 > 0 && curl100 > 0)
        std::printf("%-28s %10.3f %10.1f %10.3f %10.1f\n", "curl --http1.0 (native)", curl10,
                    megabytesPerSecond(bytes10, curl10), curl100,
                    megabytesPerSecond(bytes100, curl100));
    std::printf("fetchUrl/bare-loop ratio on 10 MB: %.2f\n", bare10 / fetch10);
    if (curl10 > 0 && curl100 > 0)
        std::printf("fetchUrl/curl ratio on 10 MB: %.2f, on 100 MB: %.2f\n", curl10 / fetch10,
                    curl100 / fetch100);
    std::printf("fetchUrl time(100 MB)/time(10 MB): %.2f (at most 12)\n", fetch100 / fetch10);
    std::printf("bare loop time(100 MB)/time(10 MB): %.2f\n", bare100 / bare10);
    std::printf("fetchUrl/bare-loop ratio on 100 MB: %.2f\n", bare100 / fetch100);
    return 0;
}
