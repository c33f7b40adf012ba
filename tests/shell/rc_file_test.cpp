// The shell's settings-file functions against real files in a temporary folder.
#include "tests/support/check.h"
#include "tests/support/temp_folder.h"
#include "shell/shell_record.h"
#include "shell/shell_internal.h"

TEST(writeCreatesTheFileAndReadsComeBack) {
    TempFolder folder;
    std::string rc = folder.file("feedmarquee.rc");
    CHECK(!FileExists(rc.c_str()));
    WriteInt(rc.c_str(), "feedmarquee.x:", -50);
    REQUIRE(FileExists(rc.c_str()));
    CHECK_EQ(readFileText(rc), std::string("feedmarquee.x: -50\r\n"));
    WriteBool(rc.c_str(), "feedmarquee.alwaysontop:", true);
    WriteColor(rc.c_str(), "feedmarquee.fontColor:", RGB(0x12, 0xab, 0x05));
    WriteString(rc.c_str(), "feedmarquee.feedUrl:", "http://example.com/feed?a=1&b=2");
    WriteString(rc.c_str(), "feedmarquee.browserPath:", "");
    CHECK_EQ(ReadInt(rc.c_str(), "feedmarquee.x:", 10), -50);
    CHECK_EQ(ReadBool(rc.c_str(), "feedmarquee.alwaysontop:", false), true);
    CHECK_EQ(ReadColor(rc.c_str(), "feedmarquee.fontColor:", "#000000"), RGB(0x12, 0xab, 0x05));
    CHECK_EQ(ReadString(rc.c_str(), "feedmarquee.feedUrl:", "none"),
             "http://example.com/feed?a=1&b=2");
    CHECK_EQ(ReadString(rc.c_str(), "feedmarquee.browserPath:", "none"), "");
    CHECK_EQ(readFileText(rc),
             std::string("feedmarquee.x: -50\r\n"
                         "feedmarquee.alwaysontop: true\r\n"
                         "feedmarquee.fontColor: #12ab05\r\n"
                         "feedmarquee.feedUrl: http://example.com/feed?a=1&b=2\r\n"
                         "feedmarquee.browserPath: \r\n"));
}

TEST(missingFileOrKeyGivesTheDefault) {
    TempFolder folder;
    std::string rc = folder.file("absent.rc");
    CHECK_EQ(ReadInt(rc.c_str(), "a:", 7), 7);
    CHECK_EQ(ReadBool(rc.c_str(), "a:", true), true);
    CHECK_EQ(ReadColor(rc.c_str(), "a:", "#ff8000"), RGB(255, 128, 0));
    CHECK_EQ(ReadString(rc.c_str(), "a:", "Tahoma"), "Tahoma");
    CHECK(!FileExists(rc.c_str())); // reading never creates the file
    writeFileText(rc, "b: 1\n");
    CHECK_EQ(ReadInt(rc.c_str(), "a:", 7), 7);
    CHECK_EQ(ReadString(rc.c_str(), "a:", ""), "");
    CHECK_EQ(ReadColor(rc.c_str(), "a:", "not a colour"), RGB(0, 0, 0));
}

TEST(keysMatchWithoutRegardToCase) {
    TempFolder folder;
    std::string rc = folder.file("case.rc");
    WriteBool(rc.c_str(), "feedmarquee.snapWindow:", false);
    CHECK_EQ(ReadBool(rc.c_str(), "feedmarquee.snapwindow:", true), false);
    CHECK_EQ(ReadBool(rc.c_str(), "FEEDMARQUEE.SNAPWINDOW:", true), false);
    // Writing under another spelling replaces the line instead of adding a second one.
    WriteBool(rc.c_str(), "feedmarquee.SNAPWINDOW:", true);
    CHECK_EQ(readFileText(rc), std::string("feedmarquee.SNAPWINDOW: true\r\n"));
    CHECK_EQ(ReadBool(rc.c_str(), "feedmarquee.snapWindow:", false), true);
}

TEST(writeReplacesTheFirstLineInPlaceAndKeepsTheRest) {
    TempFolder folder;
    std::string rc = folder.file("keep.rc");
    writeFileText(rc, "# my settings\r\n"
                      "feedmarquee.width: 300\r\n"
                      "other.key: stays as it is  \r\n"
                      "FeedMarquee.Width: 999\r\n"
                      "feedmarquee.height: 250\r\n");
    WriteInt(rc.c_str(), "feedmarquee.width:", 420);
    CHECK_EQ(readFileText(rc), std::string("# my settings\r\n"
                                           "feedmarquee.width: 420\r\n"
                                           "other.key: stays as it is  \r\n"
                                           "FeedMarquee.Width: 999\r\n"
                                           "feedmarquee.height: 250\r\n"));
    CHECK_EQ(ReadInt(rc.c_str(), "feedmarquee.width:", 0), 420);
    CHECK_EQ(ReadString(rc.c_str(), "other.key:", ""), "stays as it is");
    // A file with Unix line ends gets Unix line ends on the lines added to it, and a last line
    // without its line end is finished before the new one.
    // A byte-order mark before the first key neither hides it nor goes on a write.
    std::string marked = folder.file("marked.rc");
    writeFileText(marked, "\xEF\xBB\xBF"
                          "feedmarquee.width: 1\r\n");
    CHECK_EQ(ReadInt(marked.c_str(), "feedmarquee.width:", 0), 1);
    WriteInt(marked.c_str(), "feedmarquee.width:", 2);
    CHECK_EQ(readFileText(marked), std::string("\xEF\xBB\xBF"
                                               "feedmarquee.width: 2\r\n"));
    std::string unix = folder.file("unix.rc");
    writeFileText(unix, "a: 1\nb: 2");
    WriteInt(unix.c_str(), "c:", 3);
    CHECK_EQ(readFileText(unix), std::string("a: 1\nb: 2\nc: 3\n"));
}

TEST(keyStandsAtTheStartOfItsLine) {
    TempFolder folder;
    std::string rc = folder.file("start.rc");
    writeFileText(rc, "xfeedmarquee.x: 1\r\n"
                      "feedmarquee.x2: 2\r\n"
                      "feedmarquee.xx: 3\r\n"
                      "  feedmarquee.x : 4\r\n"
                      "feedmarquee.fav1.url: one\r\n");
    // Only a whole key counts: neither a longer key nor one with something in front matches.
    CHECK_EQ(ReadInt(rc.c_str(), "feedmarquee.x:", 0), 4);
    CHECK_EQ(ReadString(rc.c_str(), "feedmarquee.fav1.url:", ""), "one");
    CHECK_EQ(ReadString(rc.c_str(), "feedmarquee.fav10.url:", "none"), "none");
    CHECK_EQ(ReadString(rc.c_str(), "feedmarquee.fav:", "none"), "none");
    // The indented line is rewritten with its key at the start, where a line scan finds it.
    WriteInt(rc.c_str(), "feedmarquee.x:", 5);
    CHECK_EQ(readFileText(rc), std::string("xfeedmarquee.x: 1\r\n"
                                           "feedmarquee.x2: 2\r\n"
                                           "feedmarquee.xx: 3\r\n"
                                           "feedmarquee.x: 5\r\n"
                                           "feedmarquee.fav1.url: one\r\n"));
    WriteString(rc.c_str(), "feedmarquee.fav10.url:", "ten");
    std::string content = readFileText(rc);
    CHECK(content.find("\nfeedmarquee.fav10.url: ten\r\n") != std::string::npos);
    CHECK_EQ(ReadString(rc.c_str(), "feedmarquee.fav1.url:", ""), "one");
}

TEST(linesOfAnyLengthAreHandled) {
    TempFolder folder;
    std::string rc = folder.file("long.rc");
    std::string junk(100000, 'j');
    std::string longValue(20000, 'v');
    longValue[7] = ' '; // blanks inside a value belong to it
    writeFileText(rc, junk + "\r\nfeedmarquee.x: 77\r\n" + junk + ": " + junk + "\r\n");
    CHECK_EQ(ReadInt(rc.c_str(), "feedmarquee.x:", 0), 77);
    WriteString(rc.c_str(), "feedmarquee.feedUrl:", longValue.c_str());
    CHECK_EQ(std::string(ReadString(rc.c_str(), "feedmarquee.feedUrl:", "")), longValue);
    std::string longKey = std::string(5000, 'k') + ":";
    WriteInt(rc.c_str(), longKey.c_str(), 12);
    CHECK_EQ(ReadInt(rc.c_str(), longKey.c_str(), 0), 12);
    CHECK_EQ(ReadInt(rc.c_str(), "feedmarquee.x:", 0), 77);
    CHECK_EQ(readFileText(rc).substr(0, junk.size()), junk);
}

TEST(unparsableValuesGiveTheDefault) {
    TempFolder folder;
    std::string rc = folder.file("bad.rc");
    writeFileText(rc, "i.letters: abc\n"
                      "i.trailing: 12abc\n"
                      "i.huge: 99999999999\n"
                      "i.empty:\n"
                      "i.spaced:   -17   \n"
                      "i.plus: +8\n"
                      "b.maybe: maybe\n"
                      "b.upper: TRUE\n"
                      "b.number: 0\n"
                      "c.short: #12345\n"
                      "c.letters: #12345g\n"
                      "c.nohash: a0b0c0\n"
                      "c.three: #f80\n");
    const char* f = rc.c_str();
    CHECK_EQ(ReadInt(f, "i.letters:", 5), 5);
    CHECK_EQ(ReadInt(f, "i.trailing:", 5), 5);
    CHECK_EQ(ReadInt(f, "i.huge:", 5), 5);
    CHECK_EQ(ReadInt(f, "i.empty:", 5), 5);
    CHECK_EQ(ReadInt(f, "i.spaced:", 5), -17);
    CHECK_EQ(ReadInt(f, "i.plus:", 5), 8);
    CHECK_EQ(ReadBool(f, "b.maybe:", true), true);
    CHECK_EQ(ReadBool(f, "b.maybe:", false), false);
    CHECK_EQ(ReadBool(f, "b.upper:", false), true);
    CHECK_EQ(ReadBool(f, "b.number:", true), false);
    CHECK_EQ(ReadColor(f, "c.short:", "#010203"), RGB(1, 2, 3));
    CHECK_EQ(ReadColor(f, "c.letters:", "#010203"), RGB(1, 2, 3));
    CHECK_EQ(ReadColor(f, "c.nohash:", "#010203"), RGB(0xa0, 0xb0, 0xc0));
    CHECK_EQ(ReadColor(f, "c.three:", "#010203"), RGB(0xff, 0x88, 0x00));
    CHECK_EQ(ReadString(f, "i.empty:", "default"), "");
}

TEST(readStringTextStaysUntilTheNextCall) {
    TempFolder folder;
    std::string rc = folder.file("string.rc");
    writeFileText(rc, "a: first\r\nb: second\r\n");
    const char* a = ReadString(rc.c_str(), "a:", "");
    CHECK_EQ(a, "first");
    std::string copy = a; // the caller copies before its next call, as plug-ins must
    const char* b = ReadString(rc.c_str(), "b:", "");
    CHECK_EQ(copy, "first");
    CHECK_EQ(b, "second");
    CHECK(ReadString(rc.c_str(), "missing:", nullptr) == nullptr);
}

TEST(valuesWithLineBreaksStayOnOneLine) {
    TempFolder folder;
    std::string rc = folder.file("break.rc");
    WriteString(rc.c_str(), "a:", "one\r\nfake.key: injected");
    CHECK_EQ(ReadString(rc.c_str(), "fake.key:", "absent"), "absent");
    CHECK_EQ(ReadString(rc.c_str(), "a:", ""), "one  fake.key: injected");
}

TEST(fileExistsAndShellFolder) {
    TempFolder folder;
    std::string file = folder.file("there.txt");
    writeFileText(file, "x");
    CHECK(FileExists(file.c_str()));
    CHECK(!FileExists(folder.file("not-there.txt").c_str()));
    CHECK(!FileExists(folder.path.c_str())); // a folder is not a file
    CHECK(!FileExists(nullptr));

    char buffer[MAX_PATH];
    GetBlackboxPath(buffer, sizeof buffer);
    std::string own = buffer;
    REQUIRE(!own.empty());
    CHECK_EQ(own.back(), '\\');
    std::string exe = own + "shell_tests.exe";
    CHECK(FileExists(exe.c_str()));

    std::string bare = folder.path.substr(0, folder.path.size() - 1);
    setShellFolder(bare.c_str());
    CHECK_EQ(GetBlackboxPath(buffer, sizeof buffer), buffer);
    CHECK_EQ(std::string(buffer), folder.path);
    char tiny[4] = "abc";
    GetBlackboxPath(tiny, sizeof tiny); // never cut short into some other folder's name
    CHECK_EQ(tiny[0], '\0');
    setShellFolder(nullptr);
    GetBlackboxPath(buffer, sizeof buffer);
    CHECK_EQ(std::string(buffer), own);
}

TEST(aFileThatCannotBeReadIsNeverReplaced) {
    TempFolder folder;
    std::string rc = folder.file("locked.rc");
    writeFileText(rc, "a: 1\r\n");
    HANDLE lock = CreateFileA(rc.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(lock != INVALID_HANDLE_VALUE);
    WriteInt(rc.c_str(), "b:", 2);
    CloseHandle(lock);
    CHECK_EQ(readFileText(rc), std::string("a: 1\r\n"));
    WriteInt(rc.c_str(), "b:", 2);
    CHECK_EQ(readFileText(rc), std::string("a: 1\r\nb: 2\r\n"));

    // Marked read-only: every kind of write leaves the file as it was, and it stays read-only.
    REQUIRE(SetFileAttributesA(rc.c_str(), FILE_ATTRIBUTE_READONLY));
    WriteInt(rc.c_str(), "a:", 5);
    WriteBool(rc.c_str(), "c:", true);
    WriteColor(rc.c_str(), "d:", RGB(1, 2, 3));
    WriteString(rc.c_str(), "e:", "text");
    CHECK_EQ(readFileText(rc), std::string("a: 1\r\nb: 2\r\n"));
    CHECK(GetFileAttributesA(rc.c_str()) & FILE_ATTRIBUTE_READONLY);
    CHECK(!FileExists((rc + ".new").c_str()));
    CHECK_EQ(ReadInt(rc.c_str(), "a:", 0), 1);
    SetFileAttributesA(rc.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteInt(rc.c_str(), "a:", 5);
    CHECK_EQ(ReadInt(rc.c_str(), "a:", 0), 5);
}

namespace {
size_t diskLeft; // bytes the "disk" still takes
BOOL WINAPI fullDiskWrite(HANDLE file, LPCVOID bytes, DWORD count, DWORD* written,
                          LPOVERLAPPED overlapped) {
    if (diskLeft == 0) {
        *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    count = count > diskLeft ? static_cast<DWORD>(diskLeft) : count;
    diskLeft -= count;
    return WriteFile(file, bytes, count, written, overlapped);
}
} // namespace

TEST(aFullDiskLeavesTheOldFileWhole) {
    TempFolder folder;
    std::string rc = folder.file("full.rc");
    const std::string original = "a: 1\r\n# " + std::string(50000, 'x') + "\r\n";
    writeFileText(rc, original);
    rcWriteFile = fullDiskWrite;
    for (size_t left : {size_t(0), size_t(4096), original.size()}) {
        diskLeft = left;
        WriteInt(rc.c_str(), "b:", 2);
        CHECK_EQ(readFileText(rc), original);
        CHECK(!FileExists((rc + ".new").c_str()));
    }
    rcWriteFile = WriteFile;
    WriteInt(rc.c_str(), "b:", 2);
    CHECK_EQ(readFileText(rc), original + "b: 2\r\n");
}
