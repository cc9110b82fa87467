#pragma once
#include <cstdint>
#include <optional>
#include <string>

// The data folder's random install number, which places its player in a phased rollout (see
// rollout.h). It is made once, at the first run that needs it, never leaves the machine, and goes
// with the folder when the game is uninstalled.

inline constexpr char installNumberRecordName[] = ".launcher-install-number";
inline constexpr char installNumberPartialName[] = ".launcher-install-number.partial";

// What reading the record of folder found: its number, or why there is none (problem empty when
// no record stands there, which is no damage).
struct InstallNumberReading {
    std::optional<std::uint32_t> number;
    std::string problem;
};
InstallNumberReading readInstallNumber(const std::string& folder);

// A number below installNumberCount, each as likely as any other, from libcrypto's generator;
// none when the generator fails.
std::optional<std::uint32_t> drawInstallNumber();

// Records number in folder whole or not at all: false with problem set when that failed.
bool writeInstallNumber(const std::string& folder, std::uint32_t number, std::string& problem);
