// Listing file format: the columns of entry lines, buffered writing and
// what a failed write leaves. Headings and path prefixes are checked on
// real trees with the run.
#include <gtest/gtest.h>

#include <functional>

#include "format.h"
#include "listing_support.h"
#include "support.h"

// A UTC calendar time as a FILETIME value.
static unsigned long long TimeOf(int y, int mo, int d, int h, int mi, int s) {
    SYSTEMTIME calendar = {};
    calendar.wYear = static_cast<WORD>(y), calendar.wMonth = static_cast<WORD>(mo);
    calendar.wDay = static_cast<WORD>(d), calendar.wHour = static_cast<WORD>(h);
    calendar.wMinute = static_cast<WORD>(mi), calendar.wSecond = static_cast<WORD>(s);
    FILETIME time;
    SystemTimeToFileTime(&calendar, &time);
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Runs the writers in `body` against a fresh file and returns its bytes.
static std::string Written(const std::function<void()> &body, DWORD access = GENERIC_WRITE) {
    std::string path = UnixToWindows(DriveFolderUnix('d') + "-format.txt");
    WriteWholeFile(path, "");
    HANDLE file = CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    BeginOutput(file);
    body();
    EXPECT_EQ(EndOutput(), access == GENERIC_WRITE);
    CloseHandle(file);
    return ReadWholeFile(path);
}

struct DetailCase { bool folder; unsigned long long size, time; const char *line, *why; };

TEST(WriteEntryLines, SizeDateAndTimeColumns) {
    const DetailCase cases[] = {
        {false, 0, TimeOf(2002, 1, 2, 10, 11, 12), "f    0         1-2-2002    10:11:12", "empty file"},
        {false, 1234567890, TimeOf(2001, 3, 7, 14, 30, 15), "f    1234567890 3-7-2001    14:30:15", "ten digits, one space"},
        {false, 3000000000, TimeOf(1999, 12, 31, 23, 59, 0), "f    3000000000 12-31-1999  23:59:0", "past 2^31 stays positive"},
        {false, 4294967296, TimeOf(2000, 11, 20, 8, 0, 0), "f    4294967296 11-20-2000  8:0:0", "exactly 4 GiB is not 0"},
        {false, 18446744073709551615ull, TimeOf(2020, 1, 1, 0, 0, 0), "f    18446744073709551615 1-1-2020    0:0:0", "largest size, midnight"},
        {true, 4096, TimeOf(2001, 3, 7, 9, 5, 3), "f    DIR       3-7-2001    9:5:3", "folders show DIR, never a size"},
    };
    for (const DetailCase &c : cases) {
        SCOPED_TRACE(c.why);
        FolderEntry *entry = NewEntry(c.folder, "f", c.size, c.time);
        EXPECT_EQ(Written([&] { WriteEntryLines("D:\\A", entry, false, true); }), Lines({c.line}));
        FreeEntryList(entry);
    }
}

TEST(WriteEntryLines, LongListingSurvivesTheBufferBoundaries) {
    // About 200 KiB: several big writes, lines split nowhere.
    FolderEntry *head = nullptr;
    std::vector<std::string> expected;
    for (int i = 4999; i >= 0; --i) {
        std::string name = "file-" + std::to_string(i) + std::string(static_cast<size_t>(i % 37), 'x');
        FolderEntry *entry = NewEntry(false, name, 0, 0);
        entry->next = head;
        head = entry;
    }
    for (FolderEntry *e = head; e; e = e->next) expected.push_back(std::string("D:\\B\\") + e->name);
    EXPECT_EQ(Written([&] { WriteEntryLines("D:\\B", head, true, false); }), Lines(expected));
    FreeEntryList(head);
}

TEST(WriteLine, FailedWriteIsReportedAndStopsWriting) {
    std::string bytes = Written([] {
        WriteFolderHeading("D:\\A", false);
        WriteFolderEnd();
    }, GENERIC_READ);
    EXPECT_TRUE(OutputFailed());
    EXPECT_EQ(bytes, "");
}
