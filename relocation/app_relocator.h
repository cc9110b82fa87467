#pragma once
#include "relocation/relocation_system.h"

#include <optional>
#include <string>

// Moves a launcher started from a temporary folder or a mounted volume into the Applications
// folder and restarts it from there; returns only when it did not end the process.
void relocateToApplicationsFolder();

// The move itself, on whatever system it is given.
class AppRelocator {
  public:
    explicit AppRelocator(RelocationSystem& system) : system(system) {}

    void relocateToApplicationsFolder();

    // The disk image device under the bundle's folder, when that folder lies on one.
    std::optional<std::string> findDiskImageDevice(const std::string& bundlePath);
    // Replaces destinationPath with a copy of bundlePath as administrator; logs on failure.
    bool copyWithAuthorization(const std::string& bundlePath, const std::string& destinationPath);
    // Moves an older copy to the Trash, trying each method in turn; logs when all fail.
    bool trashExistingCopy(const std::string& destinationPath);
    // Starts the background restart (and the detach) and ends the process.
    void relaunchFromDestination(const std::string& destinationPath, bool isNested,
                                 const std::optional<std::string>& diskImageDevice);

  private:
    enum class AuthorizedCopy { Copied, Cancelled, Failed };

    std::optional<std::string> applicationsFolderFor(const std::string& bundleName);
    bool moveIntoPlace(const std::string& bundlePath, const std::string& destinationPath,
                       bool needsAuthorization);
    AuthorizedCopy copyAsAdministrator(const std::string& bundlePath,
                                       const std::string& destinationPath);
    bool runPrivileged(const std::string& tool, const std::vector<std::string>& arguments,
                       bool exitCodeMatters);
    bool haveExecuteWithPrivileges();
    bool isRunningCopy(const std::string& destinationPath);
    bool appKitIsLegacy();

    RelocationSystem& system;
    // Found once and kept; a failed lookup is tried again next time.
    bool executeWithPrivilegesFound = false;
};
