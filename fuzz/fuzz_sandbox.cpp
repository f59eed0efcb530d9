#include "fuzz_sandbox.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        std::fprintf(stderr, "sandbox: cannot write %s\n", path.c_str());
        std::abort();
    }
}

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return text;
}

}  // namespace

Sandbox makeSandbox(const char* prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(templ.data())) {
        std::perror("sandbox: mkdtemp");
        std::abort();
    }
    Sandbox box;
    box.base = templ;
    box.disc = box.base + "/disc";
    box.documentRoot = box.base + "/work/DATA";
    box.secondaryRoot = box.disc + "/DATA";
    box.uploads = box.base + "/uploads";
    box.canaryToken = "CANARY-" + std::to_string(getpid()) + "-OUTSIDE-THE-ROOTS";

    // Outside the roots and outside the disc: no request may ever return these bytes.
    writeFile(box.base + "/CANARY.txt", box.canaryToken);
    writeFile(box.base + "/work/SECRET.txt", box.canaryToken);
    writeFile(box.base + "/work/index.html", box.canaryToken);

    writeFile(box.documentRoot + "/copy_status.txt", "0");
    writeFile(box.documentRoot + "/style.css", std::string(1000, 'c'));
    writeFile(box.documentRoot + "/app.js", "var a = '$$first$$'; var b = '$$second$$'; $$open");
    writeFile(box.documentRoot + "/7z/index.html", "<html>$$title$$ workspace</html>");
    writeFile(box.documentRoot + "/7z/data/config/config-lumidra.json", "{\"server\":\"localhost:8000\"}");
    writeFile(box.documentRoot + "/empty.txt", "");
    writeFile(box.secondaryRoot + "/7z/index.htm", "<html>disc</html>");
    writeFile(box.secondaryRoot + "/DICOM/IM0001", pattern(200000));
    writeFile(box.secondaryRoot + "/DICOMDIR", pattern(3000));
    fs::create_directories(box.secondaryRoot + "/DW/empty folder");
    writeFile(box.disc + "/BIN/7za", "#!/bin/sh\nexit 0\n");
    writeFile(box.disc + "/data.zip", "PK");
    fs::create_directories(box.uploads);
    return box;
}

void removeSandbox(const Sandbox& sandbox) {
    std::error_code ignored;
    fs::remove_all(sandbox.base, ignored);
}

std::vector<std::string> sandboxEntries(const Sandbox& sandbox) {
    std::vector<std::string> entries;
    std::error_code error;
    for (fs::recursive_directory_iterator it(sandbox.base, error), end; !error && it != end;
         it.increment(error)) {
        std::string path = it->path().string();
        if (path.rfind(sandbox.uploads, 0) == 0) continue;
        entries.push_back(path);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

void emptyUploads(const Sandbox& sandbox) {
    std::error_code error;
    for (fs::directory_iterator it(sandbox.uploads, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

int lowestFreeDescriptor() {
    int probe = fcntl(2, F_DUPFD, 0);
    if (probe >= 0) close(probe);
    return probe;
}
