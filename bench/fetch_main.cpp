// lumidra_bench_fetch: a fixed count of GET requests over parallel clients against a loopback
// port; prints one JSON line with the counts and the wall time.
//
//   lumidra_bench_fetch --port P --requests N --clients C [--expect-bytes B] (--paths-file F | PATH...)

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "fetch_client.h"

namespace {

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        out += c;
    }
    return out + "\"";
}

int usage() {
    std::fprintf(stderr,
                 "usage: lumidra_bench_fetch --port P --requests N --clients C [--expect-bytes B] "
                 "(--paths-file F | PATH...)\n");
    return 2;
}

bool readPaths(const char* file, FetchPlan& plan) {
    std::ifstream in(file);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) plan.paths.push_back(line);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    FetchPlan plan;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        bool hasValue = i + 1 < argc;
        if (option == "--port" && hasValue) {
            long port = std::strtol(argv[++i], nullptr, 10);
            if (port <= 0 || port > 65535) return usage();
            plan.port = static_cast<std::uint16_t>(port);
        } else if (option == "--requests" && hasValue) {
            plan.requests = std::strtoll(argv[++i], nullptr, 10);
        } else if (option == "--clients" && hasValue) {
            plan.clients = std::atoi(argv[++i]);
        } else if (option == "--expect-bytes" && hasValue) {
            plan.expectBytes = std::strtoll(argv[++i], nullptr, 10);
        } else if (option == "--paths-file" && hasValue) {
            if (!readPaths(argv[++i], plan)) {
                std::fprintf(stderr, "cannot read %s\n", argv[i]);
                return 2;
            }
        } else if (option.rfind("--", 0) == 0) {
            return usage();
        } else {
            plan.paths.push_back(option);
        }
    }
    if (plan.port == 0 || plan.requests <= 0 || plan.clients <= 0 || plan.clients > 1024 ||
        plan.paths.empty())
        return usage();

    FetchResult result = runFetchPlan(plan);
    std::printf("{\"ok\": %lld, \"failed\": %lld, \"bytes\": %lld, \"seconds\": %.6f, \"error\": %s}\n",
                result.ok, result.failed, result.bodyBytes, result.seconds,
                jsonText(result.firstError).c_str());
    return result.failed == 0 ? 0 : 1;
}
