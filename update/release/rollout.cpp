#include "update/release/rollout.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <ini.h>

namespace {

int rolloutKeyHandler(void* user, const char* section, const char* name, const char* value) {
    if (section[0] == '\0' && std::strcmp(name, rolloutPercentKey) == 0) {
        auto& rollout = *static_cast<Rollout*>(user);
        rollout.named = true;
        rollout.value = value;
    }
    return 1;
}

} // namespace

std::optional<int> parseRolloutPercent(const std::string& value) {
    const bool digitsOnly = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (!digitsOnly) {
        return std::nullopt;
    }
    int percent = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), percent);
    if (error != std::errc() || end != value.data() + value.size() || percent > 100) {
        return std::nullopt;
    }
    return percent;
}

Rollout readRollout(const std::string& manifestText) {
    Rollout rollout;
    ini_parse_string(manifestText.c_str(), rolloutKeyHandler, &rollout);
    if (!rollout.named) {
        return rollout;
    }
    const auto percent = parseRolloutPercent(rollout.value);
    rollout.percent = percent.value_or(0);
    rollout.malformed = !percent;
    return rollout;
}

bool installNumberIsWithin(std::uint32_t installNumber, int percent) {
    const std::uint32_t share = static_cast<std::uint32_t>(std::clamp(percent, 0, 100));
    return installNumber < share * (installNumberCount / 100);
}
