// Stands in for the extractor in the command runner's tests. Arguments are steps, run in order:
//   out <text>     write text to standard output (\b and \n are read as backspace and line feed)
//   err <text>     the same on standard error
//   sleep <ms>     wait
//   exit <code>    end with that exit code
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void writeTo(DWORD which, const char* raw) {
    std::string text;
    for (const char* c = raw; *c; ++c) {
        if (c[0] == '\\' && c[1] == 'b') {
            text += '\b';
            ++c;
        } else if (c[0] == '\\' && c[1] == 'n') {
            text += '\n';
            ++c;
        } else
            text += *c;
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "out") == 0)
            writeTo(STD_OUTPUT_HANDLE, argv[i + 1]);
        else if (std::strcmp(argv[i], "err") == 0)
            writeTo(STD_ERROR_HANDLE, argv[i + 1]);
        else if (std::strcmp(argv[i], "sleep") == 0)
            Sleep(static_cast<DWORD>(std::atoi(argv[i + 1])));
        else if (std::strcmp(argv[i], "exit") == 0)
            return std::atoi(argv[i + 1]);
    }
    return 0;
}
