// The log's bound, on its own in this program: the test fills the process-wide log far past it.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "log/log.h"

namespace {

// An extractor that prints without end: its progress lines arrive far past any bound, and the
// log keeps its first lines, its newest lines and one line saying what was left out between.
TEST(LogBound, AnEndlessWriterKeepsTheFirstAndLastPartAndSaysHowMuchWasDropped) {
    logInfo("Starting Lumidra");
    const std::string filler(100, 'x');
    const long written = 200000;  // some 25 MB of lines
    for (long i = 0; i < written; ++i) logInfo("Copy progress: " + std::to_string(i) + " " + filler);
    logInfo("last line");

    const std::string text = logText();
    ASSERT_LT(text.size(), 8u << 20) << "the log grew without bound";
    const std::string stamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3})";
    EXPECT_TRUE(std::regex_search(
        text, std::regex("^" + stamp + " INFO: Starting Lumidra\n" + stamp + " INFO: Copy progress: 0 x+\n")))
        << text.substr(0, 200);
    EXPECT_TRUE(text.size() > 11 && text.compare(text.size() - 11, 11, " last line\n") == 0)
        << "the newest line is kept";

    // One marker line, in the log's own form, between the kept parts.
    std::smatch marker;
    ASSERT_TRUE(std::regex_search(
        text, marker,
        std::regex("\n" + stamp + R"( WARN: Log too long: (\d+) lines \((\d+) bytes\) left out here\n)")))
        << "no line says what was dropped";
    const long dropped = std::stol(marker[1]);
    const std::string before = text.substr(0, static_cast<size_t>(marker.position(0)) + 1);
    const std::string after = text.substr(static_cast<size_t>(marker.position(0) + marker.length(0)));

    // Every line written is either kept whole or counted as dropped, and the kept ones are
    // the first ones and the last ones, in order.
    std::regex progress(stamp + R"( INFO: Copy progress: (\d+) x+)");
    auto numbersIn = [&](const std::string& part) {
        std::vector<long> numbers;
        for (auto it = std::sregex_iterator(part.begin(), part.end(), progress); it != std::sregex_iterator();
             ++it)
            numbers.push_back(std::stol((*it)[1]));
        return numbers;
    };
    std::vector<long> head = numbersIn(before);
    std::vector<long> tail = numbersIn(after);
    ASSERT_FALSE(head.empty());
    ASSERT_FALSE(tail.empty());
    for (size_t i = 0; i < head.size(); ++i) ASSERT_EQ(head[i], static_cast<long>(i));
    for (size_t i = 0; i < tail.size(); ++i)
        ASSERT_EQ(tail[i], written - static_cast<long>(tail.size()) + static_cast<long>(i));
    EXPECT_EQ(static_cast<long>(head.size()) + dropped + static_cast<long>(tail.size()), written);
    // Each dropped line held its stamp, tag, text, number and filler, and its line end.
    long droppedBytes = 0;
    for (long i = static_cast<long>(head.size()); i < written - static_cast<long>(tail.size()); ++i)
        droppedBytes += 23 + 7 + 15 + static_cast<long>(std::to_string(i).size()) + 1 + 100 + 1;
    EXPECT_EQ(std::stol(marker[2]), droppedBytes);
}

}  // namespace
