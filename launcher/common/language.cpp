#include "language.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

struct LanguageId {
    std::string_view code;  // ISO 639 code as it begins a locale name
    uint16_t primaryId;     // Windows LANG_* value
};

// Sorted by code, for the binary search below.
constexpr std::array<LanguageId, 86> LANGUAGES{{
    {"af", 0x36}, {"am", 0x5e}, {"ar", 0x01}, {"as", 0x4d},  {"az", 0x2c}, {"be", 0x23},  {"bg", 0x02},
    {"bn", 0x45}, {"bo", 0x51}, {"br", 0x7e}, {"bs", 0x1a},  {"ca", 0x03}, {"co", 0x83},  {"cs", 0x05},
    {"cy", 0x52}, {"da", 0x06}, {"de", 0x07}, {"dsb", 0x2e}, {"dv", 0x65}, {"el", 0x08},  {"en", 0x09},
    {"es", 0x0a}, {"et", 0x25}, {"eu", 0x2d}, {"fa", 0x29},  {"fi", 0x0b}, {"fil", 0x64}, {"fo", 0x38},
    {"fr", 0x0c}, {"fy", 0x62}, {"ga", 0x3c}, {"gd", 0x91},  {"gl", 0x56}, {"gu", 0x47},  {"ha", 0x68},
    {"he", 0x0d}, {"hi", 0x39}, {"hr", 0x1a}, {"hsb", 0x2e}, {"hu", 0x0e}, {"hy", 0x2b},  {"id", 0x21},
    {"ig", 0x70}, {"is", 0x0f}, {"it", 0x10}, {"ja", 0x11},  {"ka", 0x37}, {"kk", 0x3f},  {"kl", 0x6f},
    {"km", 0x53}, {"kn", 0x4b}, {"ko", 0x12}, {"ky", 0x40},  {"lo", 0x54}, {"lt", 0x27},  {"lv", 0x26},
    {"mi", 0x81}, {"mk", 0x2f}, {"ml", 0x4c}, {"mn", 0x50},  {"mr", 0x4e}, {"ms", 0x3e},  {"mt", 0x3a},
    {"nb", 0x14}, {"ne", 0x61}, {"nl", 0x13}, {"nn", 0x14},  {"no", 0x14}, {"oc", 0x82},  {"pa", 0x46},
    {"pl", 0x15}, {"ps", 0x63}, {"pt", 0x16}, {"ro", 0x18},  {"ru", 0x19}, {"sk", 0x1b},  {"sl", 0x24},
    {"sq", 0x1c}, {"sr", 0x1a}, {"sv", 0x1d}, {"th", 0x1e},  {"tr", 0x1f}, {"uk", 0x22},  {"ur", 0x20},
    {"vi", 0x2a}, {"zh", 0x04},
}};

static_assert(std::is_sorted(LANGUAGES.begin(), LANGUAGES.end(),
                             [](const LanguageId& a, const LanguageId& b) { return a.code < b.code; }));

}  // namespace

std::string messagesLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang})
        if (value && *value) return value;
    return "";
}

uint16_t primaryLanguageOfLocale(const std::string& localeName) {
    // language[_territory][.codeset][@modifier]
    std::string code = localeName.substr(0, localeName.find_first_of("_.@"));
    for (char& c : code)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    auto found =
        std::lower_bound(LANGUAGES.begin(), LANGUAGES.end(), code,
                         [](const LanguageId& entry, const std::string& key) { return entry.code < key; });
    if (found != LANGUAGES.end() && found->code == code) return found->primaryId;
    return LANG_ID_ENGLISH;
}
