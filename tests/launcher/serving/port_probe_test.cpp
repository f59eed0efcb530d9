#include "serving/port_probe.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "log/log.h"

namespace {

// Holds a port the way another program would: bound to every IPv4 address (or to [::1] alone)
// and listening.
class TakenPort {
public:
    explicit TakenPort(int port, bool ipv6Loopback = false)
        : fd_(::socket(ipv6Loopback ? AF_INET6 : AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<uint16_t>(port));
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_addr = in6addr_loopback;
        address6.sin6_port = htons(static_cast<uint16_t>(port));
        bool bound = ipv6Loopback ? ::bind(fd_, reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0
                                  : ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        taken_ = fd_ >= 0 && bound && ::listen(fd_, 1) == 0;
    }
    ~TakenPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    TakenPort(const TakenPort&) = delete;
    TakenPort& operator=(const TakenPort&) = delete;
    // False when something else holds the port already.
    bool takenByUs() const { return taken_; }

private:
    int fd_;
    bool taken_ = false;
};

std::vector<int> checkedPorts(const std::string& lines) {
    std::vector<int> ports;
    const std::string tag = " INFO: Checking free port number: ";
    for (size_t at = lines.find(tag); at != std::string::npos; at = lines.find(tag, at + 1))
        ports.push_back(std::stoi(lines.substr(at + tag.size())));
    return ports;
}

std::vector<int> range(int first, int last) {
    std::vector<int> ports;
    for (int port = first; port <= last; ++port) ports.push_back(port);
    return ports;
}

TEST(PortProbe, SkipsTakenPortsAndReleasesTheOneItFinds) {
    std::vector<std::unique_ptr<TakenPort>> taken;
    for (int port = 8000; port <= 8004; ++port) taken.push_back(std::make_unique<TakenPort>(port));
    // 8005 unless earlier tests' servers left it with connections in TIME_WAIT, which a bind
    // without address reuse counts as taken, as the probe does.
    int expected = 8005;
    while (expected < 8100 && !portCanBeBound(expected)) ++expected;
    if (expected == 8100) GTEST_SKIP() << "every port from 8005 on is held by another program";
    size_t start = logText().size();

    ASSERT_TRUE(findFreePort());
    std::string lines = logText().substr(start);
    EXPECT_EQ(chosenPort, expected);
    EXPECT_EQ(checkedPorts(lines), range(8000, expected));
    EXPECT_NE(lines.find(" INFO: Found free port number: " + std::to_string(expected) + "\n"),
              std::string::npos)
        << lines;
    EXPECT_EQ(lines.find("ERROR"), std::string::npos) << lines;
    TakenPort again(expected);
    EXPECT_TRUE(again.takenByUs()) << "the probe must not keep the port it found";
}

TEST(PortProbe, APortTakenOnIpv6LoopbackAloneIsSkipped) {
    // Another user's program on [::1] would receive the browser's "localhost" requests.
    std::vector<std::unique_ptr<TakenPort>> taken;
    for (int port = 8000; port <= 8002; ++port) taken.push_back(std::make_unique<TakenPort>(port, true));
    if (!taken.front()->takenByUs()) GTEST_SKIP() << "no IPv6 loopback here, or 8000 is held already";
    ASSERT_TRUE(findFreePort());
    EXPECT_GT(chosenPort, 8002);
    EXPECT_FALSE(portCanBeBound(8001));
}

TEST(PortProbe, AFullRangeIsAFailureLeavingThePortPastTheEnd) {
    std::vector<std::unique_ptr<TakenPort>> taken;
    for (int port = 8000; port <= 8099; ++port) taken.push_back(std::make_unique<TakenPort>(port));
    TakenPort beyond(8100);  // not in the range: must not be probed, taken or not
    size_t start = logText().size();

    EXPECT_FALSE(findFreePort());
    std::string lines = logText().substr(start);
    EXPECT_EQ(chosenPort, 8100);
    EXPECT_EQ(checkedPorts(lines), range(8000, 8099));
    EXPECT_NE(lines.find(" ERROR: No free port found\n"), std::string::npos) << lines;
    EXPECT_EQ(lines.find("Found free port"), std::string::npos) << lines;
}

TEST(PortProbe, NoSocketsAtAllMeansNoPort) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    int lowestFree = ::dup(0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    // With the limit at the lowest free descriptor, no new socket can be created.
    rlimit none = saved;
    none.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    size_t start = logText().size();
    bool found = findFreePort();
    ::setrlimit(RLIMIT_NOFILE, &saved);

    std::string lines = logText().substr(start);
    EXPECT_FALSE(found);
    EXPECT_EQ(chosenPort, 8100);
    EXPECT_EQ(checkedPorts(lines).size(), 100u);
    EXPECT_NE(lines.find(" ERROR: No free port found\n"), std::string::npos) << lines;
}

}  // namespace
