// A feed address as it goes on the wire: checked, with the bytes a browser would encode
// percent-encoded and an internationalised host name converted to its ASCII form. Portable: the
// host conversion is handed in (the Windows build uses the system's IdnToAscii).
#pragma once
#include <cstddef>

// The longest address kept, in bytes (8 KiB): a longer one is refused, never cut.
const size_t feedAddressLimit = 8192;

// Converts a host name holding bytes beyond ASCII (UTF-8, or the system's code page when it is
// not UTF-8) to its ASCII form ("xn--..."); false when it is no valid name or does not fit.
typedef bool (*HostToAscii)(const char* host, size_t length, char* out, size_t outSize);

enum AddressSource {
    typedAddress,   // set by the user: blanks and control characters are refused
    redirectTarget, // a Location value: blanks are percent-encoded and tabs dropped, as browsers do
};

// Copies url into out (outSize bytes, at most feedAddressLimit + 1 used) as it goes on the wire:
// an "http://" or "https://" address (scheme in any letter case), bytes beyond ASCII and
// '"', '<', '>', '`' percent-encoded (and blanks, for a redirect target), a host with bytes beyond
// ASCII converted by hostToAscii. False, with out empty, for an address that is empty, has
// another scheme or no host, names a user ("user@" or "user:password@" before the host), holds a
// control character (or, typed, a blank), or does not fit.
bool prepareFeedAddress(const char* url, AddressSource source, HostToAscii hostToAscii, char* out,
                        size_t outSize);

// The form in which two addresses of one feed are equal (into out, outSize bytes): the scheme and
// the host in lower case, a host beyond ASCII in its "xn--" form (through hostToAscii; without one
// it stays as written), no default port (80 for http, 443 for https, or an empty one), no
// fragment, "/" for an empty path, and bytes beyond ASCII in the path percent-encoded as they go
// on the wire. False when it does not fit; an address without an http or https scheme is taken
// whole.
bool feedAddressKey(const char* url, HostToAscii hostToAscii, char* out, size_t outSize);
// True when a and b name the same feed: their feedAddressKey forms are equal (or, where a form
// does not fit, the addresses themselves).
bool sameFeedAddress(const char* a, const char* b, HostToAscii hostToAscii);
// A hash of the feedAddressKey form: equal for addresses of one feed, so that long lists are
// compared by number first (sameFeedAddress confirms).
unsigned long long feedAddressHash(const char* url, HostToAscii hostToAscii);
