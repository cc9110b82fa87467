#pragma once
#include "tests/e2e/acceptance_fixture.h"

#include <filesystem>
#include <string>
#include <vector>

// Signed releases against nginx: keys made by launcher-publish keygen, manifests signed by it,
// and a launcher whose config.plist trusts a key.
class SignedReleases : public AcceptanceTest {
  protected:
    void SetUp() override;

    // A new key pair under the sandbox; returns the private key file, publicHalf (publicKey when
    // none is given) gets its half.
    std::filesystem::path newKey(const std::string& name, std::string* publicHalf = nullptr);

    // Game <version> and launcher installer launcherVersion published; the manifest names them,
    // with serial and signed by privateKey, and extra options for launcher-publish manifest
    // after all that (another --sign-with, an expiry).
    std::string signedRelease(const std::string& version, int serial,
                              const std::string& launcherVersion = "1.0",
                              const std::vector<std::string>& extra = {});
    // The same manifest options without any signature.
    std::string unsignedRelease(const std::string& version, int serial,
                                const std::vector<std::string>& extra = {});

    // releaseSigningPublicKey key (and more settings) in the launcher's config.plist.
    void configureKey(const std::string& key, const PlistEntries& extra = {});

    std::filesystem::path manifestPath() const { return releases / "LatestVersion.ini"; }

    // The run ended as a manifest that cannot be had does: 1, nothing fetched beyond it.
    void expectRefused(const std::string& failedCheck);

    std::filesystem::path privateKey;
    std::string publicKey;
};
