// The hot key's text and the keyboard selection's moves: portable, run natively and under Wine.
#include "display/keyboard_selection.h"
#include "plugin/hot_key.h"
#include "tests/support/check.h"

#include <string>

TEST(hot_key_texts_are_read_and_written_back) {
    struct Row {
        const char* text;
        HotKeyReading reading;
        unsigned modifiers, key;
        const char* written; // formatHotKey of the result
    };
    const Row rows[] = {
        {"Ctrl+Alt+R", hotKeyRead, hotKeyControl | hotKeyAlt, 'R', "Ctrl+Alt+R"},
        {"  alt + control + r ", hotKeyRead, hotKeyControl | hotKeyAlt, 'R', "Ctrl+Alt+R"},
        {"Shift+Win+F12", hotKeyRead, hotKeyShift | hotKeyWin, 0x7B, "Shift+Win+F12"},
        {"F9", hotKeyRead, 0, 0x78, "F9"},
        {"Ctrl+PgDn", hotKeyRead, hotKeyControl, 0x22, "Ctrl+PageDown"},
        {"Ctrl+Alt+7", hotKeyRead, hotKeyControl | hotKeyAlt, '7', "Ctrl+Alt+7"},
        {"Ctrl+NumPad3", hotKeyRead, hotKeyControl, 0x63, "Ctrl+NumPad3"},
        {"Alt+Space", hotKeyRead, hotKeyAlt, 0x20, "Alt+Space"},
        {"", hotKeyNone, 0, 0, ""},
        {"   ", hotKeyNone, 0, 0, ""},
        {"R", hotKeyUnreadable, 0, 0, ""},       // would take a typed letter
        {"Shift+A", hotKeyUnreadable, 0, 0, ""}, // would take a typed capital
        {"Shift+Space", hotKeyUnreadable, 0, 0, ""},
        {"Shift+F3", hotKeyRead, hotKeyShift, 0x72, "Shift+F3"},
        {"Ctrl+", hotKeyUnreadable, 0, 0, ""},   // no key
        {"Ctrl++R", hotKeyUnreadable, 0, 0, ""}, // empty part
        {"Ctrl+Ctrl+R", hotKeyUnreadable, 0, 0, ""},
        {"Ctrl+Alt", hotKeyUnreadable, 0, 0, ""}, // a modifier is no key
        {"Hyper+R", hotKeyUnreadable, 0, 0, ""},
        {"Ctrl+F25", hotKeyUnreadable, 0, 0, ""},
        {"Ctrl+F0", hotKeyUnreadable, 0, 0, ""},
        {"Ctrl+RR", hotKeyUnreadable, 0, 0, ""},
        {"Ctrl+NumPad10", hotKeyUnreadable, 0, 0, ""},
    };
    for (const Row& row : rows) {
        HotKey key = {99, 99};
        HotKeyReading reading = readHotKey(row.text, &key);
        CHECK_EQ(static_cast<int>(reading), static_cast<int>(row.reading));
        CHECK_EQ(key.modifiers, row.modifiers);
        CHECK_EQ(key.key, row.key);
        char written[40];
        formatHotKey(key, written, sizeof written);
        if (reading == hotKeyRead)
            CHECK_EQ(std::string(written), std::string(row.written));
    }
    HotKey none = {};
    CHECK_EQ(static_cast<int>(readHotKey(nullptr, &none)), static_cast<int>(hotKeyNone));
    char cut[6];
    formatHotKey(HotKey{hotKeyControl | hotKeyAlt, 'R'}, cut, sizeof cut);
    CHECK_EQ(std::string(cut), std::string("Ctrl+"));
}

TEST(selection_moves_wrap_at_the_ends_and_pages_stop_there) {
    struct Row {
        int selected, count;
        SelectionKey key;
        int expected;
    };
    const int page = 3;
    const Row rows[] = {
        {0, 5, selectDown, 1},     {4, 5, selectDown, 0},     {0, 5, selectUp, 4},
        {2, 5, selectUp, 1},       {3, 5, selectHome, 0},     {1, 5, selectEnd, 4},
        {0, 5, selectPageDown, 3}, {3, 5, selectPageDown, 4}, {4, 5, selectPageUp, 1},
        {1, 5, selectPageUp, 0},   {-1, 5, selectDown, 0},    {-1, 5, selectUp, 4},
        {-1, 5, selectPageUp, 4},  {-1, 5, selectHome, 0},    {7, 5, selectDown, 0},
        {0, 0, selectDown, -1},    {-1, 0, selectEnd, -1},    {0, 1, selectDown, 0},
        {0, 1, selectUp, 0},
    };
    for (const Row& row : rows)
        CHECK_EQ(movedSelection(row.selected, row.count, row.key, page), row.expected);
    CHECK_EQ(movedSelection(2, 5, selectPageDown, 0), 3); // a page is at least one item

    // Scrolling into view: up at once; down one item a paint while the selection is cut off just
    // below the items shown whole (5 here), straight to it when it lies further down.
    CHECK_EQ(firstShownFor(4, 2, false, 5), 2);
    CHECK_EQ(firstShownFor(0, 5, false, 5), 1);
    CHECK_EQ(firstShownFor(3, 6, true, 5), 3);
    CHECK_EQ(firstShownFor(6, 6, false, 0), 6); // taller than the window: shown from its top
    CHECK_EQ(firstShownFor(3, -1, false, 5), 3);
    CHECK_EQ(firstShownFor(0, 19999, false, 5), 19995); // End on 20,000 items: one step
    CHECK_EQ(firstShownFor(0, 7, false, 0), 7);         // nothing shown whole: to the item itself
}
