#include "log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "bounded_log.h"

namespace {

const char* const INFO_TAG = " INFO: ";
const char* const WARN_TAG = " WARN: ";
const char* const ERROR_TAG = " ERROR: ";

std::mutex& logLock() {
    static std::mutex lock;
    return lock;
}

// About a megabyte in all: a whole run's lines many times over, yet no burden to show or save.
constexpr size_t LOG_HEAD_BYTES = 256 * 1024;
constexpr size_t LOG_TAIL_BYTES = 768 * 1024;

BoundedLog& logStore() {
    static BoundedLog store = boundedLog(LOG_HEAD_BYTES, LOG_TAIL_BYTES);
    return store;
}

bool toLocalTime(std::time_t seconds, std::tm& local) {
#ifdef _WIN32
    return localtime_s(&local, &seconds) == 0;
#else
    return localtime_r(&seconds, &local) != nullptr;
#endif
}

void appendLine(const char* tag, const std::string& message) {
    std::string stamp = formatTimestamp(true);
    std::string line;
    line.reserve(stamp.size() + 8 + message.size() + 1);
    line += stamp;
    line += tag;
    line += message;
    line += '\n';
    std::lock_guard<std::mutex> guard(logLock());
    appendBoundedLine(logStore(), std::move(line), stamp.size());
}

}  // namespace

std::string formatTimestamp(bool withMillis) {
    using namespace std::chrono;
    // 100-nanosecond ticks since 1970, as the system clock reports them.
    long long ticks =
        duration_cast<duration<long long, std::ratio<1, 10000000>>>(system_clock::now().time_since_epoch())
            .count();
    std::tm local{};
    char buffer[80] = "";
    if (toLocalTime(static_cast<std::time_t>(ticks / 10000000), local))
        // "%F" spelt out: the Windows C run-time library does not know it and writes nothing.
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    if (!withMillis) return buffer;
    char withMs[96];
    std::snprintf(withMs, sizeof withMs, "%s.%03d", buffer, static_cast<int>((ticks / 10000) % 1000));
    return withMs;
}

void logInfo(std::string message) { appendLine(INFO_TAG, message); }
void logWarn(std::string message) { appendLine(WARN_TAG, message); }
void logError(std::string message) { appendLine(ERROR_TAG, message); }

std::string logText() {
    std::lock_guard<std::mutex> guard(logLock());
    return boundedLogText(logStore());
}
