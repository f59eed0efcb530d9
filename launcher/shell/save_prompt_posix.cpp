#include "save_prompt.h"

#include <system_error>

#include "log/ansi_text.h"

namespace fs = std::filesystem;

namespace {

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

bool isYes(std::string answer) {
    answer = trimmed(answer);
    for (char& c : answer)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    // English and Czech
    return answer == "y" || answer == "yes" || answer == "a" || answer == "ano";
}

fs::path resolveTyped(const std::string& typed, const fs::path& folder) {
    fs::path path;
    if (typed == "~")
        path = folder;
    else if (typed.rfind("~/", 0) == 0)
        path = folder / typed.substr(2);
    else
        path = fs::path(typed).is_absolute() ? fs::path(typed) : folder / typed;
    if (!path.filename().empty() && !path.has_extension()) path += ".log";
    return path;
}

}  // namespace

std::optional<fs::path> promptForLogFile(const std::wstring& title, const std::string& defaultName,
                                         const fs::path& folder, const AskLine& ask, const TellLine& tell) {
    const fs::path proposed = folder / defaultName;
    const std::wstring question = title + L" [" + ansiToWide(pathToAnsi(proposed)) + L"] ";
    bool hintGiven = false;
    for (;;) {
        if (!hintGiven) tell("Enter keeps the name shown, Esc or \"cancel\" cancels.");
        hintGiven = true;
        std::optional<std::string> answer = ask(question);
        if (!answer) return std::nullopt;
        std::string typed = trimmed(*answer);
        if (typed == "cancel" || (!answer->empty() && answer->find('\033') != std::string::npos))
            return std::nullopt;

        fs::path path = typed.empty() ? proposed : resolveTyped(typed, folder);
        std::error_code error;
        if (path.filename().empty() || fs::is_directory(path, error)) {
            tell(pathToAnsi(path) + " is a folder; type a file name.");
            continue;
        }
        fs::path parent = path.parent_path();
        if (!fs::is_directory(parent, error)) {
            tell("The folder does not exist: " + pathToAnsi(parent));
            continue;
        }
        if (fs::exists(path, error)) {
            std::optional<std::string> replace =
                ask(ansiToWide(pathToAnsi(path)) + L" already exists. Replace it? (y/n) ");
            if (!replace) return std::nullopt;
            if (!isYes(*replace)) continue;
        }
        return path;
    }
}
