#pragma once
#include "update/http/curl_session.h"
#include "update/manifest_trust.h"
#include "update/release/release_signature.h"
#include "update/release/rollout.h"
#include "update/release/version_manifest.h"

#include <optional>
#include <string>

// Why a manifest was not accepted. Expired: a signed manifest past its ManifestExpires.
enum class ManifestFailure { None, Transfer, Parse, Refused, Expired };

// What one manifest check gives back: the values, the signed hashes and the raw text of the
// manifest it accepted, or why it accepted none. The install roads take it as it is.
struct CheckedManifest {
    // 0 when fetched and parsed cleanly, 1 when the transfer failed or the manifest was refused,
    // otherwise the number of the first malformed line.
    int status = 1;
    ManifestFailure failure = ManifestFailure::Transfer;
    // Parsed over the values the check started from; those alone when nothing was accepted.
    LatestVersionInfo info;
    // The text up to its first NUL; empty when nothing was accepted.
    std::string text;
    // Whether the manifest passed the signature checks of a launcher with a key; only then
    // do signedValues hold what the signature covers, and do the archives have to match them.
    bool signatureChecked = false;
    SignedReleaseValues signedValues;
    // The HTTP status the server answered with; 0 when no answer came.
    long httpStatus = 0;
};

// Fetches the manifest at url (with the transfer settings), refuses it unless trust accepts it
// and parses it over known (a key the manifest lacks keeps its value from there). No value of a
// refused manifest is used.
CheckedManifest fetchCheckedManifest(const std::string& url, const ReleaseTrust& trust,
                                     const LatestVersionInfo& known = {},
                                     const TransferSettings& transfer = {});

// The same check as the launcher's parts first called it: info is parsed over and rawText
// (optional) receives the text only when it was accepted. Returns the status.
int fetchLatestVersionInfo(LatestVersionInfo& info, const std::string& url, std::string* rawText,
                           const ReleaseTrust& trust, const TransferSettings& transfer = {});

// The line that ends the lines of a manifest that was not accepted: the HTTP status the server
// answered with, when it answered at all. A 404 or a 500 tells a publisher more than any parse.
void logManifestHttpStatus(const CheckedManifest& manifest);

// The SHA-256 a download has to have: none when the manifest was not checked; otherwise value
// (one of its signedValues), where an empty one (the key was missing) matches no archive.
std::optional<std::string> requiredArchiveSha256(const CheckedManifest& manifest,
                                                 const std::string& value);

// The rollout of an accepted manifest: a checking launcher reads it from the signed bytes only, as
// it reads the archives' hashes; without a key, from the whole text.
Rollout manifestRollout(const CheckedManifest& manifest);
