#include "log/log.h"
#include "log/ansi_text.h"
#include "log/bounded_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <thread>
#include <vector>

namespace {

// Lines appended by this test, from the point where it began.
std::string linesSince(size_t offset) { return logText().substr(offset); }

TEST(Log, LinesCarryTimestampLevelTagAndMessage) {
    size_t start = logText().size();
    logInfo("Window class registered");
    logWarn("");
    logError("No free port found");
    logInfo("first\nsecond");
    std::string added = linesSince(start);

    const std::string stamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3})";
    std::regex expected(stamp + " INFO: Window class registered\n" + stamp + " WARN: \n" + stamp +
                        " ERROR: No free port found\n" + stamp + " INFO: first\nsecond\n");
    EXPECT_TRUE(std::regex_match(added, expected)) << added;
}

TEST(Log, TimestampIsLocalTimeWithOptionalMillis) {
    std::string plain = formatTimestamp(false);
    std::string precise = formatTimestamp(true);
    EXPECT_TRUE(std::regex_match(plain, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"))) << plain;
    EXPECT_TRUE(std::regex_match(precise, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3})")))
        << precise;

    // In a zone one hour east of UTC the wall clock reads one hour more than UTC.
    const char* saved = std::getenv("TZ");
    std::string savedZone = saved ? saved : "";
    setenv("TZ", "UTC-1", 1);
    tzset();
    std::string local = formatTimestamp(false);
    std::time_t now = std::time(nullptr);
    if (saved)
        setenv("TZ", savedZone.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    std::tm utc{};
    gmtime_r(&now, &utc);
    char utcHour[3];
    std::strftime(utcHour, sizeof utcHour, "%H", &utc);
    int expectedHour = (std::atoi(utcHour) + 1) % 24;
    int loggedHour = std::atoi(local.substr(11, 2).c_str());
    // The two clocks are read a moment apart; allow the hour to roll over in between.
    EXPECT_TRUE(loggedHour == expectedHour || loggedHour == (expectedHour + 1) % 24) << local;
}

TEST(Log, ConcurrentLinesNeverInterleave) {
    size_t start = logText().size();
    const int perThread = 500;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                logInfo("writer " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& writer : writers) writer.join();

    std::string added = linesSince(start);
    std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} INFO: writer (\d) line (\d+))");
    std::vector<int> nextPerWriter(4, 0);
    size_t count = 0, position = 0;
    while (position < added.size()) {
        size_t end = added.find('\n', position);
        ASSERT_NE(end, std::string::npos);
        std::smatch match;
        std::string text = added.substr(position, end - position);
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        int writer = std::stoi(match[1]);
        EXPECT_EQ(std::stoi(match[2]), nextPerWriter[writer]++) << "lines of one writer keep their order";
        ++count;
        position = end + 1;
    }
    EXPECT_EQ(count, 4u * perThread);
}

TEST(BoundedLog, TheHeadFillsToItsLimitThenTheTailKeepsTheNewestLinesAndCountsTheRest) {
    BoundedLog log = boundedLog(10, 8);
    appendBoundedLine(log, "1 a:head\n", 1);  // 9 bytes
    appendBoundedLine(log, "2 b\n", 1);       // would make 13: the head is closed
    appendBoundedLine(log, "3 c\n", 1);
    EXPECT_EQ(boundedLogText(log), "1 a:head\n2 b\n3 c\n") << "nothing dropped, no marker";
    appendBoundedLine(log, "4 d\n", 1);
    appendBoundedLine(log, "5\n", 1);  // a short line still goes to the tail, after the others
    EXPECT_EQ(boundedLogText(log),
              "1 a:head\n3 WARN: Log too long: 2 lines (8 bytes) left out here\n4 d\n5\n");

    // A line longer than the whole tail is kept, alone, as the newest.
    appendBoundedLine(log, "6 " + std::string(20, 'x') + "\n", 1);
    EXPECT_EQ(boundedLogText(log), "1 a:head\n5 WARN: Log too long: 4 lines (14 bytes) left out here\n6 " +
                                       std::string(20, 'x') + "\n");
}

TEST(AnsiText, Utf8RoundTripAndMalformedBytes) {
    std::string czech = "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBEluťou\xC4\x8Dk\xC3\xBD";  // "Příliš žluťoučký"
    std::wstring wide = ansiToWide(czech);
    EXPECT_EQ(wide.substr(0, 4), std::wstring(L"P\u0159\u00edl"));
    EXPECT_EQ(wideToAnsi(wide), czech);

    // A lone continuation byte and a truncated sequence are kept as Latin-1 characters.
    EXPECT_EQ(ansiToWide(std::string("a\x80"
                                     "b\xC5",
                                     4)),
              std::wstring(L"a\u0080b\u00c5"));
    // The conversion ends at the first NUL.
    EXPECT_EQ(ansiToWide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(ansiToWide(""), L"");
}

}  // namespace
