#pragma once
#include <chrono>
#include <optional>
#include <string>

// ManifestExpires: the moment after which a signed manifest is no longer taken, so that a
// server (or anyone on the way) cannot keep answering with one old manifest for ever.

using UtcSeconds = std::chrono::sys_seconds;

// A UTC time in the one form a manifest writes it, "YYYY-MM-DDTHH:MM:SSZ"; none for any other
// form, or for a date or time of day that does not exist.
std::optional<UtcSeconds> parseUtcTime(const std::string& text);
// The same form, written back.
std::string formatUtcTime(UtcSeconds time);

// The top-level ManifestExpires value of text, read with the manifest parser's rules (exact
// name, the last of a repeated key); none when the key is absent. Empty is a value.
std::optional<std::string> readManifestExpires(const std::string& text);

// Whether value is a UTC time that now has reached: the manifest is correctly signed, but old.
bool hasExpired(const std::optional<std::string>& value, UtcSeconds now);

// Why a manifest with this ManifestExpires value may not be used at now; empty when it may
// (an absent value never expires). A manifest is expired from the second it names on.
std::string expiryProblem(const std::optional<std::string>& value, UtcSeconds now);

// The current time, to the second.
UtcSeconds utcNow();
