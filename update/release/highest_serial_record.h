#pragma once
#include <cstdint>
#include <optional>
#include <string>

// The highest ManifestSerial the launcher ever accepted, kept in a record of its own at the top
// of the data folder. CurrentVersion.ini cannot serve: an install removes it before it begins,
// so an interrupted update would leave nothing to refuse an older, validly signed manifest
// against. This record is only ever raised; uninstalling removes it with the folder.

inline constexpr char highestSerialRecordName[] = "HighestManifestSerial";
inline constexpr char highestSerialPartialName[] = "HighestManifestSerial.partial";

// The serial recorded in folder: 0 when there is no record, none when there is one that does
// not hold a serial (problem says why).
std::optional<std::uint64_t> readHighestSerial(const std::string& folder, std::string& problem);

// Records serial in folder, durably (a temporary file synced to disk, renamed over the record,
// the folder synced): false with problem set when that failed, and then the old record stands.
bool writeHighestSerial(const std::string& folder, std::uint64_t serial, std::string& problem);
