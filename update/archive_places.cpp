#include "update/archive_places.h"

#include "launcher/run_log.h"
#include "update/release/mirror_urls.h"

std::vector<std::string> archivePlaces(const CheckedManifest& manifest) {
    const std::string& primary = manifest.info.ApplicationDownloadUrl;
    // A value the signature does not cover (kept from an earlier manifest) names no place.
    const std::string& list = manifest.signatureChecked
                                  ? manifest.signedValues.ApplicationDownloadMirrorUrls
                                  : manifest.info.ApplicationDownloadMirrorUrls;
    std::vector<std::string> places = {primary};
    for (MirrorUrl& mirror : readMirrorUrls(list, primary)) {
        if (!mirror.leftOut.empty()) {
            writeToLog(std::string(mirrorUrlsKey) + ": leaving out \"" + mirror.url +
                       "\": " + mirror.leftOut);
            continue;
        }
        places.push_back(std::move(mirror.url));
    }
    return places;
}
