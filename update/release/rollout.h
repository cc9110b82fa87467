#pragma once
#include <cstdint>
#include <optional>
#include <string>

// A phased rollout: RolloutPercent=<0..100> in the manifest lets a release reach only that share
// of the players who have a game installed, picked by the random install number each data folder
// keeps. Raising the percentage only ever adds players, so a bad build is seen by a few first.

inline constexpr char rolloutPercentKey[] = "RolloutPercent";

// Install numbers run from 0 to installNumberCount - 1; each percent takes a hundredth of them.
inline constexpr std::uint32_t installNumberCount = 10000;

// The RolloutPercent of a manifest and what the launcher goes by.
struct Rollout {
    // Whether the key stands at the top level, and its last value as the parser reads it.
    bool named = false;
    std::string value;
    // 100 without the key; 0 for a value that is not a whole number from 0 to 100, so that a
    // typo never sends a build to everyone.
    int percent = 100;
    bool malformed = false;
};

// A whole number from 0 to 100 written in decimal digits only; none for anything else.
std::optional<int> parseRolloutPercent(const std::string& value);

// The rollout of manifestText, read with the manifest parser's rules (top-level keys only, the
// exact name, the last of a repeated key).
Rollout readRollout(const std::string& manifestText);

// Whether the player with installNumber is among percent % of players: the lowest numbers come
// in first, so whoever is in at one percentage is in at every higher one.
bool installNumberIsWithin(std::uint32_t installNumber, int percent);
