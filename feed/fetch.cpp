// One fetch pass: checks the address, hands each hop to the client of its scheme (the Winsock
// client for http, WinHTTP for https) and follows redirects here, so that both schemes obey the
// same rules: at most five hops, relative locations resolved against the address that answered,
// never from https down to http, never round a loop, never to an address that does not fit whole.
// Validators go only to the address they belong to. Only a 2xx body leaves this unit.
#include "feed/fetch.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "content/url_resolve.h"
#include "feed/auth_hash.h"
#include "feed/feed_address.h"
#include "feed/http_auth.h"
#include "feed/http_fetch.h"
#include "feed/http_response.h"
#include "feed/idn_win32.h"
#include "feed/login_store.h"
#include "feed/winhttp_fetch.h"

namespace {

const int redirectLimit = 5;

enum Scheme { schemeHttp, schemeHttps };

// The scheme of a prepared address, which starts with "http://" or "https://" in any letter case.
Scheme schemeOf(const char* url) {
    return url[4] == ':' ? schemeHttp : schemeHttps;
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void setReason(FetchResult* result, const char* reason) {
    std::snprintf(result->reason, sizeof result->reason, "%s", reason);
}

void keepHeaders(const HttpResponse& response, FetchResult* result) {
    std::snprintf(result->contentType, sizeof result->contentType, "%s", response.contentType);
    std::snprintf(result->retryAfter, sizeof result->retryAfter, "%s", response.retryAfter);
    // Only a document's validators are worth sending back; an error page's or a redirect's are
    // not.
    bool document = (response.status >= 200 && response.status <= 299) || response.status == 304;
    std::snprintf(result->etag, sizeof result->etag, "%s", document ? response.etag : "");
    std::snprintf(result->lastModified, sizeof result->lastModified, "%s",
                  document ? response.lastModified : "");
}

// Works out where a redirect leads; false with result->reason set when it must not be followed.
bool nextAddress(const char* current, const HttpResponse& response,
                 const char (*visited)[fetchUrlSize], int visitedCount, char* next,
                 FetchResult* result) {
    // An address too long to keep is refused rather than cut and followed somewhere else.
    if (response.locationTooLong) {
        setReason(result, "invalid redirect address");
        return false;
    }
    if (response.location[0] == '\0') {
        setReason(result, "redirect without a location");
        return false;
    }
    // Resolved first (room for a base and a reference of the full length), then checked, encoded
    // and held to the address limit.
    const size_t resolvedSize = 2 * fetchUrlSize + 16;
    char* resolved = static_cast<char*>(std::malloc(resolvedSize));
    bool valid =
        resolved && resolveUrl(current, response.location, resolved, resolvedSize) &&
        prepareFeedAddress(resolved, redirectTarget, systemHostToAscii, next, fetchUrlSize);
    std::free(resolved);
    if (!valid) {
        setReason(result, "invalid redirect address");
        return false;
    }
    Scheme scheme = schemeOf(next);
    if (schemeOf(current) == schemeHttps && scheme == schemeHttp) {
        setReason(result, "redirect to http refused");
        return false;
    }
    for (int i = 0; i < visitedCount; ++i) {
        if (std::strcmp(visited[i], next) == 0) {
            setReason(result, "redirect loop");
            return false;
        }
    }
    return true;
}

// The login of one hop: read when the server first asks, sent at most once per challenge.
struct HopLoginState {
    bool sent;          // the last request of the hop carried the login
    bool staleAnswered; // a Digest nonce reported stale was answered once already
    char key[320];      // the origin the login is kept under
    StoredLogin login;
    char authorization[2048];
    HopLogin windows;
};

// The realm of the first challenge that names one.
const char* realmOf(const AuthChallenge* challenges, int count) {
    for (int i = 0; i < count; ++i) {
        if (challenges[i].realm[0])
            return challenges[i].realm;
    }
    return "";
}

// Prepares the answer to challenge in state; false with result->reason set when it must not go.
bool prepareAnswer(const AuthChallenge* challenge, const char* url, bool https,
                   const FetchRequest* request, HopLoginState* state, FetchResult* result) {
    state->authorization[0] = '\0';
    state->windows.user = state->windows.password = nullptr;
    if (challenge->scheme == authBasic) {
        if (!https && !request->allowBasicOverHttp) {
            setReason(result, "login not sent: Basic over plain http");
            return false;
        }
        return formatBasicAuthorization(state->login.user, state->login.password,
                                        state->authorization, sizeof state->authorization);
    }
    if (challenge->scheme == authDigest) {
        char target[fetchUrlSize];
        char cnonce[33];
        requestTarget(url, target, sizeof target);
        return randomHex(16, cnonce) &&
               formatDigestAuthorization(challenge, state->login.user, state->login.password, "GET",
                                         target, cnonce, 1, systemDigestHash, state->authorization,
                                         sizeof state->authorization);
    }
    state->windows.user = state->login.user;
    state->windows.password = state->login.password;
    return true;
}

// A 401 answered on hop url of a pass that began at first: true when the hop is to be asked
// again with the login in state (hopRequest then carries it); false with result->reason set.
bool answerLogin(const char* url, const char* first, const HttpResponse& response,
                 const FetchRequest* request, HopLoginState* state, FetchRequest* hopRequest,
                 FetchResult* result) {
    bool https = schemeOf(url) == schemeHttps;
    AuthChallenge challenges[authChallengeLimit];
    int count = parseAuthChallenges(response.authenticate, challenges, authChallengeLimit);
    const AuthChallenge* challenge = chooseAuthChallenge(challenges, count, https);
    const char* realm = challenge ? challenge->realm : realmOf(challenges, count);
    formatLoginReason("needs a login", realm, result->reason, sizeof result->reason);
    // A login goes only to the host the feed's address names, whatever a redirect says.
    if (!sameLoginHost(url, first) || challenge == nullptr)
        return false;
    if (state->sent) {
        // A stale nonce is no refusal: the same login answers the new nonce once.
        bool retry = challenge->scheme == authDigest && challenge->stale && !state->staleAnswered;
        if (!retry) {
            holdRefusedLogin(state->key, &state->login);
            setReason(result, "login refused");
            return false;
        }
        state->staleAnswered = true;
    } else {
        // The login of the answering origin, else the feed's own (the same host: an http feed
        // moved to https keeps the login the user gave it).
        bool found =
            loginOrigin(url, state->key, sizeof state->key) && readLogin(state->key, &state->login);
        if (!found && !(loginOrigin(first, state->key, sizeof state->key) &&
                        readLogin(state->key, &state->login)))
            return false;
        if (loginHeld(state->key, &state->login)) {
            setReason(result, "login refused");
            return false;
        }
    }
    if (!prepareAnswer(challenge, url, https, request, state, result)) {
        if (std::strncmp(result->reason, "needs", 5) == 0)
            setReason(result, "login could not be sent");
        return false;
    }
    state->sent = true;
    hopRequest->authorization = state->authorization[0] ? state->authorization : nullptr;
    hopRequest->windowsLogin = state->windows.user ? &state->windows : nullptr;
    return true;
}

} // namespace

bool fetchFeed(const FetchRequest* request, FetchResult* result) {
    std::memset(result, 0, sizeof *result);
    // Every address of the pass, the first included, so that a loop is seen at once; the address
    // the validators belong to after them.
    char(*visited)[fetchUrlSize] =
        static_cast<char(*)[fetchUrlSize]>(std::malloc((redirectLimit + 2) * fetchUrlSize));
    if (visited == nullptr) {
        setReason(result, "out of memory");
        return false;
    }
    char* validatorsUrl = visited[redirectLimit + 1];
    if (request == nullptr || !prepareFeedAddress(request->url, typedAddress, systemHostToAscii,
                                                  visited[0], fetchUrlSize)) {
        // The address is shown as it was given as far as it fits; it is never fetched.
        if (request && request->url)
            std::snprintf(result->finalUrl, sizeof result->finalUrl, "%s", request->url);
        setReason(result, "invalid address");
        std::free(visited);
        return false;
    }
    if (request->validatorsUrl == nullptr)
        std::memcpy(validatorsUrl, visited[0], fetchUrlSize);
    else if (!prepareFeedAddress(request->validatorsUrl, typedAddress, systemHostToAscii,
                                 validatorsUrl, fetchUrlSize))
        validatorsUrl[0] = '\0';
    unsigned long passStarted = GetTickCount();
    bool allPermanent = true;
    for (int hop = 0;; ++hop) {
        const char* current = visited[hop];
        std::snprintf(result->finalUrl, sizeof result->finalUrl, "%s", current);
        // Validators go only to the address that gave them.
        FetchRequest hopRequest = *request;
        hopRequest.authorization = nullptr;
        hopRequest.windowsLogin = nullptr;
        if (std::strcmp(current, validatorsUrl) != 0)
            hopRequest.etag = hopRequest.lastModified = nullptr;
        HttpResponse response = {};
        HopOutcome outcome = {};
        // The hop is asked again while the server asks for a login that can be given.
        HopLoginState* login = nullptr;
        bool loginFailed = false;
        for (;;) {
            if (schemeOf(current) == schemeHttps)
                fetchHttpsHop(current, &hopRequest, passStarted, &response, &outcome);
            else
                fetchHttpHop(current, &hopRequest, passStarted, &response, &outcome);
            if (!outcome.complete || response.status != 401 || passOver(request, passStarted))
                break;
            if (login == nullptr)
                login = static_cast<HopLoginState*>(std::calloc(1, sizeof(HopLoginState)));
            if (login == nullptr)
                setReason(result, "out of memory");
            if (login == nullptr ||
                !answerLogin(current, visited[0], response, request, login, &hopRequest, result)) {
                loginFailed = true;
                break;
            }
            endResponse(&response);
        }
        if (login != nullptr) {
            SecureZeroMemory(login, sizeof *login);
            std::free(login);
        }
        result->status = response.status;
        if (!outcome.complete) {
            setReason(result, outcome.reason[0] ? outcome.reason : "connection failed");
            endResponse(&response);
            std::free(visited);
            return false;
        }
        keepHeaders(response, result);
        int status = response.status;
        if (status == 401 || status == 407) {
            if (status == 407) {
                AuthChallenge challenges[authChallengeLimit];
                int count =
                    parseAuthChallenges(response.proxyAuthenticate, challenges, authChallengeLimit);
                formatLoginReason("proxy needs a login", realmOf(challenges, count), result->reason,
                                  sizeof result->reason);
                if (outcome.proxyLoginRefused)
                    setReason(result, "proxy login refused");
            } else if (!loginFailed) {
                setReason(result, "needs a login");
            }
            endResponse(&response);
            std::free(visited);
            return false;
        }
        if (isRedirect(status)) {
            bool follow = hop < redirectLimit;
            if (!follow)
                setReason(result, "too many redirects");
            else
                follow = nextAddress(current, response, visited, hop + 1, visited[hop + 1], result);
            endResponse(&response);
            if (!follow) {
                std::free(visited);
                return false;
            }
            allPermanent = allPermanent && (status == 301 || status == 308);
            result->movedPermanently = allPermanent;
            continue;
        }
        if (status >= 200 && status <= 299) {
            result->body = takeResponseBody(&response, &result->bodyLength);
            // An empty body is still a document: the caller gets an empty text, not nothing.
            if (result->body == nullptr)
                result->body = static_cast<char*>(std::calloc(1, 1));
            result->ok = result->body != nullptr;
            if (!result->ok)
                setReason(result, "out of memory");
        } else if (status == 304) {
            result->ok = true;
            result->notModified = true;
        } else {
            std::snprintf(result->reason, sizeof result->reason, "HTTP %d %s", status,
                          response.statusText);
            // A status without a reason phrase leaves no blank at the end.
            size_t length = std::strlen(result->reason);
            if (length > 0 && result->reason[length - 1] == ' ')
                result->reason[length - 1] = '\0';
        }
        endResponse(&response);
        std::free(visited);
        return result->ok;
    }
}

void freeFetchResult(FetchResult* result) {
    if (result == nullptr)
        return;
    std::free(result->body);
    result->body = nullptr;
    result->bodyLength = 0;
}
