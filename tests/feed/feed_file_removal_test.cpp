// The saved-copy clean-up removes only the plug-in's own files: a feed folder laid out by
// run-with-linked-feed-files.sh holds links to a user's file and to a saved copy elsewhere beside
// real saved files and a foreign file with a saved file's name. The script checks afterwards that
// what the links point to is whole.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "feed/headline_cache.h"
#include "tests/support/check.h"

namespace {

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

TEST(only_the_plugins_own_files_are_removed_and_never_through_a_link) {
    const char* root = std::getenv("FM_LINKED_FOLDER");
    REQUIRE(root != nullptr);
    std::string feeds = std::string(root) + "\\feedmarquee.feeds\\";
    REQUIRE(exists(feeds + "0123456789abcdef.cache"));
    struct Row {
        const char* name;
        bool removed;
    };
    const Row rows[] = {
        {"0123456789abcdef.cache", false},    // a link to the user's notes
        {"0123456789abcdef.seen.tmp", false}, // the same, under a temporary file's name
        {"fedcba9876543210.cache", true},     // a saved copy
        {"fedcba9876543210.seen", true},      // a seen keys file
        {"1111111111111111.cache", false},    // another program's file with such a name
        {"2222222222222222.cache", false},    // not there at all
    };
    for (const Row& row : rows) {
        std::string path = feeds + row.name;
        CHECK_EQ(removeOwnFeedFile(path.c_str()), row.removed);
        CHECK_EQ(exists(path), !row.removed && row.name[0] != '2');
    }
    CHECK(exists(std::string(root) + "\\elsewhere\\notes.txt"));
}
