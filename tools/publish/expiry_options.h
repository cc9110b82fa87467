#pragma once
#include "tools/publish/options.h"
#include "update/release/manifest_expiry.h"

#include <chrono>
#include <optional>
#include <string>

// The expiry options of manifest and sign: --expires-in <N>s|m|h|d (from now) or --expires-at
// <YYYY-MM-DDTHH:MM:SSZ>.
inline constexpr const char* kExpiresIn = "--expires-in";
inline constexpr const char* kExpiresAt = "--expires-at";

// "<N>s", "<N>m", "<N>h" or "<N>d" with N a decimal number from 1 to 36500 days' worth.
std::optional<std::chrono::seconds> parseExpiryDuration(const std::string& text);

// The ManifestExpires value the options ask for, none when neither is given; false with problem
// set when a value is not of its form or both are given.
bool readExpiryOptions(const ParsedArguments& parsed, UtcSeconds now,
                       std::optional<std::string>& expires, std::string& problem);

// A span of time for people, in its two largest units: "6 days 23 hours", "3 hours 20 minutes",
// "45 seconds".
std::string describeSpan(std::chrono::seconds span);

// The warning printed on standard error when the manifest is expired already; empty otherwise.
std::string expiredAlreadyWarning(const std::string& expires, UtcSeconds now);
