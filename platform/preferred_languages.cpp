#include "platform/preferred_languages.h"

#include <cstdlib>
#include <sstream>

namespace {

bool meansNoPreference(const std::string& locale) {
    return locale == "C" || locale == "C.UTF-8" || locale == "POSIX";
}

} // namespace

std::vector<std::string> preferredLanguages() {
    for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        std::vector<std::string> languages;
        std::istringstream list(value);
        for (std::string entry; std::getline(list, entry, ':');) {
            if (!entry.empty() && !meansNoPreference(entry)) {
                languages.push_back(entry);
            }
        }
        return languages;
    }
    return {};
}
