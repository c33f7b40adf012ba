// Logins kept in the Windows Credential Manager: one generic credential per origin, its target
// "FeedMarquee:" and the origin ("FeedMarquee:https://intranet.example:443"), or for a proxy
// "FeedMarquee:proxy:" and the proxy's origin. The password is nowhere else: not in the settings
// file, the saved copies, a health line or a log. Also the logins a server refused, so that they
// are not tried again (and an account locked) by the automatic updates.
#pragma once
#include <windows.h>

// A login as read, in UTF-8. Wipe it with clearLogin once used.
struct StoredLogin {
    char user[768];
    char password[768];
    FILETIME written; // when it was stored: a login stored again is a new login
};

// The key of a proxy's login: "proxy:" before the proxy's origin.
const char* const proxyLoginPrefix = "proxy:";

// Reads the login of key (an origin from loginOrigin, or a proxy's key); false when none is kept
// or it cannot be read (login is then cleared).
bool readLogin(const char* key, StoredLogin* login);
// Stores (replaces) the login of key; a login of that key refused before is no longer held.
// False when the Credential Manager refused it.
bool saveLogin(const char* key, const wchar_t* user, const wchar_t* password);
// Removes the login of key; true when there is none afterwards.
bool forgetLogin(const char* key);
// True when a login is kept for key.
bool hasLogin(const char* key);
// Wipes the login's memory.
void clearLogin(StoredLogin* login);

// Marks login (as read for key) refused by the server: loginHeld is true for it until a new login
// is stored for key or releaseLoginHolds is called. Safe from any thread.
void holdRefusedLogin(const char* key, const StoredLogin* login);
bool loginHeld(const char* key, const StoredLogin* login);
// "Update Now": every refused login may be tried once more.
void releaseLoginHolds();

// The key of the proxy that last asked for a login, so that the login dialog can ask for the
// proxy's own login; false when none asked.
void noteProxyWantsLogin(const char* key);
bool proxyWantingLogin(char* key, size_t size);
