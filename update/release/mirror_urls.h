#pragma once
#include <string>
#include <vector>

// The manifest key that names further places of the content archive, separated by blanks. Each
// must serve the same bytes as ApplicationDownloadUrl.
inline constexpr char mirrorUrlsKey[] = "ApplicationDownloadMirrorUrls";

// One URL of a mirror list as the launcher takes it.
struct MirrorUrl {
    std::string url;
    // Why the launcher leaves it out; empty when it fetches from it.
    std::string leftOut;
};

// The URLs of list in their order, each judged against primary (ApplicationDownloadUrl) and the
// ones before it: only an http:// or https:// URL that is neither the primary nor named before
// is a place to fetch from. Runs of blanks separate, so there are no empty URLs.
std::vector<MirrorUrl> readMirrorUrls(const std::string& list, const std::string& primary);

// An http:// or https:// URL (the scheme in any letter case) with something after the scheme:
// the only kinds the launcher's transfers take.
bool isHttpUrl(const std::string& text);
