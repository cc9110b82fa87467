#include "update/release/mirror_urls.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

bool startsWithInAnyCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::vector<std::string> splitAtBlanks(const std::string& list) {
    std::vector<std::string> words;
    std::size_t at = list.find_first_not_of(" \t");
    while (at != std::string::npos) {
        const std::size_t end = std::min(list.find_first_of(" \t", at), list.size());
        words.push_back(list.substr(at, end - at));
        at = list.find_first_not_of(" \t", end);
    }
    return words;
}

} // namespace

bool isHttpUrl(const std::string& text) {
    for (std::string_view scheme : {"http://", "https://"}) {
        if (startsWithInAnyCase(text, scheme) && text.size() > scheme.size()) {
            return true;
        }
    }
    return false;
}

std::vector<MirrorUrl> readMirrorUrls(const std::string& list, const std::string& primary) {
    std::vector<MirrorUrl> mirrors;
    for (std::string& url : splitAtBlanks(list)) {
        MirrorUrl mirror{std::move(url), ""};
        const bool namedBefore =
            std::any_of(mirrors.begin(), mirrors.end(),
                        [&](const MirrorUrl& earlier) { return earlier.url == mirror.url; });
        if (!isHttpUrl(mirror.url)) {
            mirror.leftOut = "not an http:// or https:// URL";
        } else if (mirror.url == primary) {
            mirror.leftOut = "the same as ApplicationDownloadUrl";
        } else if (namedBefore) {
            mirror.leftOut = "named before in the list";
        }
        mirrors.push_back(std::move(mirror));
    }
    return mirrors;
}
