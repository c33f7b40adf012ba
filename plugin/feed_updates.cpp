// The plug-in's side of the update engine: the settings and favourites become the engine's feed
// list, finished passes come back to the window thread as WM_FEED_UPDATED, and timer 1 follows
// the engine's schedule. In "one" mode the single feed keeps its saved copy in
// "feedmarquee.cache" and its seen keys in "feedmarquee.seen" beside the settings file, as
// before; the other modes keep one pair of files per favourite in "feedmarquee.feeds".
#include "plugin/hot_key_win32.h"
#include "plugin/feed_updates.h"
#include "plugin/new_item_sound.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "content/key_hash.h"
#include "display/tooltip.h"
#include "plugin/window_proc.h"
#include "feed/feed_engine.h"
#include "feed/feed_health.h"
#include "feed/headline_cache.h"
#include "feed/update_schedule.h"
#include "plugin/item_filters.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"

char lastUpdateTime[20];
unsigned long updateStopWaitMs = 10000;

namespace {

FeedEngine* engine;
// The window results are posted to; read by the workers, written on the window thread.
HWND volatile deliveryWindow;
// The address "one" mode showed last, so that a new one drops the old one's saved copy.
char* oneModeUrl;

// Set while a WM_FEED_UPDATED is on its way: one message takes every result queued until it is
// handled, so hundreds of passes ending together cost the window a few messages, not hundreds.
volatile LONG updatePosted;

bool postPass(void*) {
    HWND window = deliveryWindow;
    if (window == nullptr)
        return false;
    if (InterlockedExchange(&updatePosted, 1) != 0)
        return true;
    if (PostMessageA(window, WM_FEED_UPDATED, 0, 0))
        return true;
    InterlockedExchange(&updatePosted, 0);
    return false;
}

// The favourites' addresses and titles by index (copies), taken when the feeds are configured and
// again when the favourites were read anew: in "together" and "inTurn" feed i is favourite i, so
// its title is found at once, not by a walk of the favourites for every feed at every paint.
struct FavoriteTitle {
    char* url;
    char* title; // null: the favourite has none
    int share;   // its own share of the "together" list; 0: the global one
};
FavoriteTitle* favoriteTitles;
int favoriteTitleCount;
const FavoriteFeed* titlesOfList; // the list they were taken from (compared, never followed)
int titlesOfCount;
int titlesOfEncoding;

void releaseFavoriteTitles() {
    for (int i = 0; i < favoriteTitleCount; ++i) {
        std::free(favoriteTitles[i].url);
        std::free(favoriteTitles[i].title);
    }
    std::free(favoriteTitles);
    favoriteTitles = nullptr;
    favoriteTitleCount = 0;
    titlesOfList = nullptr;
}

void takeFavoriteTitles() {
    releaseFavoriteTitles();
    int count = favoriteCount > 0 ? favoriteCount : 0;
    favoriteTitles = static_cast<FavoriteTitle*>(
        std::calloc(static_cast<size_t>(count) + 1, sizeof(FavoriteTitle)));
    if (favoriteTitles == nullptr)
        return;
    // The muted ones last, so that the others stand at their feed's index in the engine.
    int n = 0;
    for (int muted = 0; muted < 2; ++muted) {
        int taken = 0;
        for (const FavoriteFeed* f = favorites; f != nullptr && taken < count;
             f = f->next, ++taken) {
            if (f->own.mute != (muted == 1) || n >= count)
                continue;
            favoriteTitles[n].url = _strdup(f->url);
            // In the entries' encoding: UTF-8 whole, or the code page's form for entries in it.
            const char* title =
                settings.encoding == 1 || !f->codePageTitle[0] ? f->title : f->codePageTitle;
            favoriteTitles[n].title = title[0] ? _strdup(title) : nullptr;
            favoriteTitles[n].share = f->own.maxItems;
            ++n;
        }
    }
    favoriteTitleCount = n;
    titlesOfList = favorites;
    titlesOfCount = favoriteCount;
    titlesOfEncoding = settings.encoding;
}

// The favourite with address url, or null; index is where it is looked for first (the feed's own
// index: the favourite it was made of, unless the list changed since).
const FavoriteTitle* favoriteTitleOf(const char* url, int index) {
    if (titlesOfList != favorites || titlesOfCount != favoriteCount ||
        titlesOfEncoding != settings.encoding)
        takeFavoriteTitles();
    if (index >= 0 && index < favoriteTitleCount && favoriteTitles[index].url != nullptr &&
        std::strcmp(favoriteTitles[index].url, url) == 0)
        return &favoriteTitles[index];
    for (int i = 0; i < favoriteTitleCount; ++i)
        if (favoriteTitles[i].url != nullptr && std::strcmp(favoriteTitles[i].url, url) == 0)
            return &favoriteTitles[i];
    return nullptr;
}

// folder of the settings file + name into path (MAX_PATH); false (path empty) when it does not
// fit or there is no settings path.
bool besideSettings(const char* name, char* path) {
    path[0] = '\0';
    const char* slash = std::strrchr(settingsPath, '\\');
    const char* other = std::strrchr(settingsPath, '/');
    if (other > slash)
        slash = other;
    if (slash == nullptr)
        return false;
    size_t folder = static_cast<size_t>(slash - settingsPath) + 1;
    size_t length = std::strlen(name);
    if (folder + length + 1 > MAX_PATH)
        return false;
    std::memcpy(path, settingsPath, folder);
    std::memcpy(path + folder, name, length + 1);
    return true;
}

uint64_t addressHash(const char* url) {
    return textHash(url, std::strlen(url));
}

// The file name stem of a feed's saved files: 16 hex digits of its address's hash.
void feedStem(const char* url, char (&stem)[17]) {
    std::snprintf(stem, sizeof stem, "%016llx", static_cast<unsigned long long>(addressHash(url)));
}

// True for the names the feed folder's files have: 16 hex digits, then .cache or .seen (and
// their .tmp siblings).
bool isFeedFileName(const char* name, char (&stem)[17]) {
    for (int i = 0; i < 16; ++i) {
        char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    const char* rest = name + 16;
    static const char* const endings[] = {".cache", ".seen", ".cache.tmp", ".seen.tmp"};
    for (const char* ending : endings) {
        if (std::strcmp(rest, ending) == 0) {
            std::memcpy(stem, name, 16);
            stem[16] = '\0';
            return true;
        }
    }
    return false;
}

// Removes the saved files of feeds that are no longer among the favourites.
void removeOtherFeedFiles(const char* folder) {
    char pattern[MAX_PATH];
    if (std::snprintf(pattern, sizeof pattern, "%s\\*", folder) >= MAX_PATH)
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        char stem[17];
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            !isFeedFileName(found.cFileName, stem))
            continue;
        bool kept = false;
        for (const FavoriteFeed* f = favorites; f != nullptr && !kept; f = f->next) {
            char own[17];
            feedStem(f->url, own);
            kept = std::strcmp(own, stem) == 0;
        }
        char path[MAX_PATH];
        // Only what the plug-in wrote there goes: a link, or a file of another program that
        // merely has such a name, stays.
        if (!kept && std::snprintf(path, sizeof path, "%s\\%s", folder, found.cFileName) < MAX_PATH)
            removeOwnFeedFile(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// A feed's own interval, User-Agent and consent to Basic over plain http. The interval is kept
// within the global bounds by the engine as the global one is.
void ownSettingsIntoSpec(const FeedSettings& own, FeedSpec* spec) {
    spec->updateIntervalMinutes = own.interval > 0 ? own.interval : 0;
    spec->userAgent = own.userAgent[0] ? own.userAgent : nullptr;
    spec->allowBasicOverHttp = own.allowBasicOverHttp;
}

EngineOptions optionsOfSettings() {
    EngineOptions options = {};
    options.updateIntervalMinutes = settings.updateInterval;
    options.keepHeadlines = settings.keepHeadlines;
    options.convertCharset = settings.encoding != 0;
    options.markNew = settings.markNew;
    options.stopWaitMs = updateStopWaitMs;
    return options;
}

// The menu and commands change the settings directly; the engine reads them from here on.
void syncOptions() {
    EngineOptions options = optionsOfSettings();
    engineSetOptions(engine, &options);
}

bool oneMode() {
    return settings.show != showTogether && settings.show != showInTurn;
}

void armTimer() {
    if (runtime.pluginWindow)
        armUpdateTimer();
}

// A list shown instead of the engine's (showListDirectly).
FeedList* directList;

// The list painted last ("one" mode), held so that a new one is told from it.
FeedList* paintedList;

// The window thread's view after the engine changed: a new list on show drops the tooltip's tools
// of the old layout; "one" mode's update time.
void noteChanges() {
    FeedList* shown = engineFeedList(engine, 0);
    if (shown != paintedList) {
        sweepTools();
        retainFeedList(shown);
        releaseFeedList(paintedList);
        paintedList = shown;
    }
    const char* updated = engineFeedUpdated(engine, 0);
    std::snprintf(lastUpdateTime, sizeof lastUpdateTime, "%s", updated ? updated : "");
}

void runEngine() {
    engineRunDue(engine, engineClock());
    noteChanges();
}

// What the filters were last given, one record after another ("url\x1fhide\x1fhighlight\x1fsound
// \x1e"): the feeds are reconfigured at every "Update Now" and every tick of "one" mode's timer,
// and the filters are made anew (and screen readers told of a changed list) only when a feed's
// own words or sound switch differ.
char* filtersGiven;

void appendRecord(char** text, size_t* length, size_t* room, const char* const (&parts)[4]) {
    for (const char* part : parts) {
        size_t size = std::strlen(part) + 1;
        if (*length + size + 1 > *room) {
            size_t wanted = (*room + size + 1) * 2;
            char* grown = static_cast<char*>(std::realloc(*text, wanted));
            if (grown == nullptr)
                return;
            *text = grown;
            *room = wanted;
        }
        std::memcpy(*text + *length, part, size - 1);
        *length += size;
        (*text)[*length - 1] = '\x1f';
    }
    (*text)[*length - 1] = '\x1e';
    (*text)[*length] = '\0';
}

// Hands the filters the own words and sound switch of the feeds given (those that have any).
void giveFeedFilters(const char* const* urls, const FeedSettings* const* owns, int count) {
    FeedFilterSettings* list = static_cast<FeedFilterSettings*>(
        std::calloc(static_cast<size_t>(count) + 1, sizeof(FeedFilterSettings)));
    if (list == nullptr)
        return;
    char* text = nullptr;
    size_t length = 0, room = 0;
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const FeedSettings& own = *owns[i];
        if (!own.hideWords[0] && !own.highlightWords[0] && !own.sound)
            continue;
        list[n++] = FeedFilterSettings{urls[i], own.hideWords, own.highlightWords, own.sound};
        const char* const parts[4] = {urls[i], own.hideWords, own.highlightWords,
                                      own.sound ? "1" : "0"};
        appendRecord(&text, &length, &room, parts);
    }
    bool same =
        std::strcmp(text != nullptr ? text : "", filtersGiven != nullptr ? filtersGiven : "") == 0;
    if (!same) {
        setFeedFilterSettings(list, n);
        std::free(filtersGiven);
        filtersGiven = text;
        text = nullptr;
    }
    std::free(text);
    std::free(list);
}

} // namespace

bool headlineCachePath(char* path) {
    return besideSettings("feedmarquee.cache", path);
}

bool feedFolderPath(char* path) {
    return besideSettings("feedmarquee.feeds", path);
}

bool savedCopyPath(const char* url, char* path) {
    if (oneMode())
        return headlineCachePath(path);
    char folder[MAX_PATH];
    if (url == nullptr || !feedFolderPath(folder))
        return false;
    char stem[17];
    feedStem(url, stem);
    int written = std::snprintf(path, MAX_PATH, "%s\\%s.cache", folder, stem);
    return written > 0 && written < MAX_PATH;
}

void reconfigureFeeds() {
    if (engine == nullptr)
        engine = createFeedEngine(postPass, nullptr);
    if (engine == nullptr)
        return;
    // A message pending for another window went with it.
    if (deliveryWindow != runtime.pluginWindow)
        InterlockedExchange(&updatePosted, 0);
    deliveryWindow = runtime.pluginWindow;
    EngineOptions options = optionsOfSettings();

    if (oneMode()) {
        char cachePath[MAX_PATH];
        char seenPath[MAX_PATH];
        bool haveCache = headlineCachePath(cachePath);
        besideSettings("feedmarquee.seen", seenPath);
        // Another address: the old one's saved copy and marks are not this feed's.
        if (oneModeUrl != nullptr && oneModeUrl[0] &&
            std::strcmp(oneModeUrl, settings.feedUrl) != 0) {
            if (haveCache)
                DeleteFileA(cachePath);
            if (seenPath[0])
                DeleteFileA(seenPath);
        }
        std::free(oneModeUrl);
        oneModeUrl = _strdup(settings.feedUrl);
        // The other modes' files of this address, for a first start in this mode.
        char folder[MAX_PATH], formerCache[MAX_PATH] = "", formerSeen[MAX_PATH] = "";
        if (feedFolderPath(folder)) {
            char stem[17];
            feedStem(settings.feedUrl, stem);
            std::snprintf(formerCache, sizeof formerCache, "%s\\%s.cache", folder, stem);
            std::snprintf(formerSeen, sizeof formerSeen, "%s\\%s.seen", folder, stem);
        }
        // The shown address's own settings, whether it is a favourite or not; muting is for the
        // other modes: the feed chosen to be shown is shown.
        const FeedSettings& own = feedSettingsFor(settings.feedUrl);
        FeedSpec spec = {settings.feedUrl, cachePath, seenPath, formerCache, formerSeen};
        ownSettingsIntoSpec(own, &spec);
        engineConfigure(engine, &spec, 1, &options);
        const char* url = settings.feedUrl;
        const FeedSettings* owns = &own;
        giveFeedFilters(&url, &owns, 1);
    } else {
        char folder[MAX_PATH];
        bool haveFolder = feedFolderPath(folder);
        if (haveFolder) {
            CreateDirectoryA(folder, nullptr);
            removeOtherFeedFiles(folder);
        }
        int count = favoriteCount > 0 ? favoriteCount : 0;
        FeedSpec* specs =
            static_cast<FeedSpec*>(std::calloc(static_cast<size_t>(count) + 1, sizeof(FeedSpec)));
        char(*paths)[2][MAX_PATH] = static_cast<char(*)[2][MAX_PATH]>(
            std::calloc(static_cast<size_t>(count) + 1, sizeof(char[2][MAX_PATH])));
        const FeedSettings** owns = static_cast<const FeedSettings**>(
            std::calloc(static_cast<size_t>(count) + 1, sizeof(FeedSettings*)));
        const char** urls =
            static_cast<const char**>(std::calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
        if (specs == nullptr || paths == nullptr || owns == nullptr || urls == nullptr) {
            std::free(specs);
            std::free(paths);
            std::free(owns);
            std::free(urls);
            return;
        }
        // "One" mode's files, for the favourite they were saved for (the header tells).
        char oneCache[MAX_PATH], oneSeen[MAX_PATH];
        headlineCachePath(oneCache);
        besideSettings("feedmarquee.seen", oneSeen);
        int n = 0;
        for (const FavoriteFeed* f = favorites; f != nullptr && n < count; f = f->next) {
            if (f->own.mute)
                continue; // kept as a favourite, neither fetched nor shown
            char stem[17];
            feedStem(f->url, stem);
            if (haveFolder) {
                std::snprintf(paths[n][0], MAX_PATH, "%s\\%s.cache", folder, stem);
                std::snprintf(paths[n][1], MAX_PATH, "%s\\%s.seen", folder, stem);
            }
            specs[n] = FeedSpec{f->url, paths[n][0], paths[n][1], oneCache, oneSeen};
            ownSettingsIntoSpec(f->own, &specs[n]);
            owns[n] = &f->own;
            urls[n] = f->url;
            ++n;
        }
        engineConfigure(engine, specs, n, &options);
        giveFeedFilters(urls, owns, n);
        takeFavoriteTitles();
        std::free(specs);
        std::free(paths);
        std::free(owns);
        std::free(urls);
    }
    runEngine();
    armTimer();
}

bool requestUpdate() {
    // The address, the favourites or the mode may have changed since: the feeds follow them
    // (a feed that stays keeps its state; a dropped one's pass is abandoned, never waited for).
    // The engine's lists show again.
    showListDirectly(nullptr);
    reconfigureFeeds();
    engineUpdateNow(engine, -1);
    runEngine();
    return shownList() != nullptr;
}

void requestFeedUpdate(int feed) {
    engineUpdateNow(engine, feed);
    runEngine();
}

void runDueUpdates() {
    if (oneMode()) {
        // Timer 1 is the single feed's interval: its tick is the update.
        requestUpdate();
    } else {
        runEngine();
    }
    armTimer();
}

void stopUpdate() {
    if (engine == nullptr)
        return;
    deliveryWindow = nullptr;
    destroyFeedEngine(engine);             // stops every pass first, within the bound
    InterlockedExchange(&updatePosted, 0); // a message still pending finds no engine
    engine = nullptr;
    std::free(oneModeUrl);
    oneModeUrl = nullptr;
    releaseFavoriteTitles();
    titlesOfCount = 0;
    std::free(filtersGiven);
    filtersGiven = nullptr;
    releaseFeedList(paintedList);
    paintedList = nullptr;
    lastUpdateTime[0] = '\0';
}

void finishUpdate(LPARAM) {
    // Cleared before the results are taken: one queued after the take posts a message again.
    InterlockedExchange(&updatePosted, 0);
    if (engine == nullptr)
        return;
    // Every queued result is taken (a message may carry several); feeds that waited for a free
    // slot start now.
    runEngine();
    armTimer();
    soundForNewItems();
}

UINT updateTimerDelayMs() {
    syncOptions();
    if (engine == nullptr || engineFeedCount(engine) == 0)
        return updateTimerPeriod(intervalInForceMinutes(settings.updateInterval, 0));
    // "One" mode: the feed's delay in force. Otherwise the shortest wait until a feed falls due;
    // feeds whose pass runs re-arm the timer when it ends.
    long long ms = -1;
    if (oneMode()) {
        // A pass or the reading of the saved copy re-arms the timer as it ends.
        ms = engineBusy(engine) ? engineFeedDelaySeconds(engine, 0) * 1000LL
                                : engineFeedWaitMs(engine, 0, engineClock());
        if (ms < 200)
            ms = 200;
    } else {
        ms = engineRunDue(engine, engineClock());
        if (ms < 0)
            return updateTimerPeriod(intervalInForceMinutes(settings.updateInterval, 0));
        if (ms < 200)
            ms = 200;
    }
    return ms > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<UINT>(ms);
}

bool updatesRunning() {
    return engineBusy(engine);
}

int completedPasses() {
    return engineFeedPasses(engine, -1);
}

int shownFeedCount() {
    return engineFeedCount(engine);
}

bool shownFeedAt(int index, ShownFeed* out) {
    if (engine == nullptr || index < 0 || index >= engineFeedCount(engine))
        return false;
    std::memset(out, 0, sizeof *out);
    out->url = engineFeedUrl(engine, index);
    out->list = engineFeedList(engine, index);
    out->hasHeadlines = engineFeedHasHeadlines(engine, index);
    out->stale = engineFeedStale(engine, index);
    out->health = engineFeedHealth(engine, index);
    out->failure = engineFeedFailure(engine, index);
    out->updated = engineFeedUpdated(engine, index);
    out->items = out->hasHeadlines ? itemCount(out->list) : 0;
    out->newItems = engineNewCount(engine, index);
    const FavoriteTitle* favorite = favoriteTitleOf(out->url, oneMode() ? -1 : index);
    out->title = favorite != nullptr ? favorite->title : nullptr;
    out->share = favorite != nullptr ? favorite->share : 0;
    if (out->title == nullptr)
        out->title = engineFeedTitle(engine, index);
    if (out->title == nullptr)
        out->title = out->url;
    return true;
}

bool itemIsNew(int feed, const FeedItem* item) {
    return engineItemIsNew(engine, feed, item);
}

void markItemSeen(int feed, const FeedItem* item) {
    engineMarkSeen(engine, feed, item);
}

void markAllRead() {
    engineMarkAllRead(engine, -1);
}

int newItemCount(int feed) {
    return engineNewCount(engine, feed);
}

FeedList* shownList() {
    return directList != nullptr ? directList : engineFeedList(engine, 0);
}

void showListDirectly(FeedList* list) {
    retainFeedList(list);
    releaseFeedList(directList);
    directList = list;
}

bool headlinesBelongTo(const char* url) {
    const char* shown = engineFeedUrl(engine, 0);
    return url != nullptr && shown != nullptr && engineFeedHasHeadlines(engine, 0) &&
           std::strcmp(shown, url) == 0;
}

bool headlinesOfAnotherAddress(const char* url) {
    const char* shown = engineFeedUrl(engine, 0);
    return shown != nullptr && engineFeedHasHeadlines(engine, 0) &&
           (url == nullptr || std::strcmp(shown, url) != 0);
}

bool headlinesStale() {
    return engineFeedStale(engine, 0);
}

const char* feedHealthLine() {
    const char* line = engineFeedHealth(engine, 0);
    return withHotKeyNote(line != nullptr ? line : "");
}

int updateIntervalInForce() {
    syncOptions();
    return engineFeedInterval(engine, 0);
}

const char* healthReport() {
    if (oneMode())
        return feedHealthLine();
    static char report[healthReportLimit];
    int count = shownFeedCount();
    NamedHealth* lines =
        static_cast<NamedHealth*>(std::calloc(static_cast<size_t>(count) + 1, sizeof(NamedHealth)));
    if (lines == nullptr)
        return feedHealthLine();
    for (int i = 0; i < count; ++i) {
        ShownFeed feed;
        if (!shownFeedAt(i, &feed))
            continue;
        lines[i].name = feed.title;
        lines[i].line = feed.health != nullptr && feed.health[0] ? feed.health : connectingText;
        lines[i].failed = feed.stale || !feed.hasHeadlines;
    }
    // Room is left for the hot key's note.
    composeHealthReport(lines, count, report, sizeof report - 512);
    std::free(lines);
    return withHotKeyNote(report);
}
