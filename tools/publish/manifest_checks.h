#pragma once
#include "tools/publish/installer_keys.h"
#include "update/release/manifest_expiry.h"
#include "update/release/release_signature.h"

#include <optional>
#include <string>
#include <vector>

// Mistakes that a manifest carries to every player and that no launcher reports back: each check
// passes or fails with one line saying what players would suffer. manifest refuses to write a
// manifest that fails one; verify reports them.

// A signed manifest must carry the hashes a launcher with releaseSigningPublicKey checks every
// archive against (ApplicationSha256, ApplicationIndexSha256, LauncherInstallerSha256): without
// them it refuses every archive. An unsigned manifest passes.
ManifestCheck archiveHashesCheck(const std::string& manifestText);

// ManifestExpires, when there is one, must lie after now.
ManifestCheck expiryCheck(const std::string& manifestText, UtcSeconds now);

// ManifestSerial must be above the live manifest's: a lower one is refused by every launcher that
// took the live one, an equal one leaves the live one acceptable for ever.
ManifestCheck liveSerialCheck(const std::string& manifestText, const std::string& liveText);

// An ApplicationVersion equal to the live one must name the same content: the launcher compares
// versions only, so players who installed it would never get the other archive.
ManifestCheck liveVersionCheck(const std::string& manifestText, const std::string& liveText);

// The launcher a release ships must take its manifest. LauncherVersion must be the
// launcherVersion of its config.plist, compared as the launcher compares them, else players'
// launchers see another version after every self-update and update themselves on every run. With
// releaseSigningPublicKey, the manifest must pass the launcher's checks by exactly those keys and
// releaseSigningThreshold (installed and highest serials 0), else players who take the
// self-update are stuck on the installed game.
std::vector<ManifestCheck> shippedLauncherChecks(const std::string& manifestText,
                                                 const InstallerKeys& launcher, UtcSeconds now);

// The same for the installer archive at installerPath; skipped, saying why, when it holds no
// launcher bundle with a config.plist to read.
struct ShippedLauncherChecks {
    std::vector<ManifestCheck> checks;
    std::string skipped; // empty when the checks were made
};
ShippedLauncherChecks checkShippedLauncher(const std::string& manifestText,
                                           const std::string& installerPath, UtcSeconds now);

// Every check above, the live ones only when the live manifest is given (a note says so when
// not).
struct PublishingChecks {
    std::vector<ManifestCheck> checks;
    std::vector<std::string> notes;
    bool passed() const;
};
PublishingChecks checkBeforePublishing(const std::string& manifestText,
                                       const std::optional<std::string>& liveText, UtcSeconds now);

// The note printed when there is no live manifest to compare with.
inline constexpr const char* kNoLiveManifestNote =
    "no --live-manifest given: ManifestSerial and ApplicationVersion were not compared with the "
    "manifest players fetch now";
