#include "tools/publish/expiry_findings.h"

#include "tools/publish/expiry_options.h"
#include "tools/publish/manifest_signing.h"
#include "update/release/signature_threshold.h"

#include <sstream>

namespace {

// The line of the last top-level "ManifestExpires" key line, the one the launcher reads; 0 when
// it cannot be told.
std::size_t expiresLine(const std::string& text) {
    std::size_t found = 0;
    std::size_t number = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        ++number;
        found = isExpiresLine(line) ? number : found;
    }
    return found;
}

} // namespace

std::vector<ManifestFinding> expiryFindings(const std::string& text, UtcSeconds now) {
    const SignatureBlock block = splitAtSignatureBlock(text);
    const auto value = readManifestExpires(block.signedBytes);
    if (!value) {
        return {};
    }
    const std::size_t line = expiresLine(block.signedBytes);
    const auto at = parseUtcTime(*value);
    if (!at) {
        return {{line, "ManifestExpires \"" + *value +
                           "\" is not a UTC time written as YYYY-MM-DDTHH:MM:SSZ; a launcher "
                           "that checks signatures refuses the manifest"}};
    }
    if (*at <= now) {
        return {{line, "the manifest expired at " + *value +
                           "; a launcher that checks signatures refuses it (sign it again with "
                           "launcher-publish sign --expires-in)"}};
    }
    if (!block.signatures.empty() && *at - now < std::chrono::days(1)) {
        return {{line,
                 "the signed manifest expires in less than a day (at " + *value + ", in " +
                     describeSpan(*at - now) +
                     "); unless it is signed again before then, launchers that check "
                     "signatures refuse it",
                 false}};
    }
    return {};
}
