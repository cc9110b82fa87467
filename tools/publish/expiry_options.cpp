#include "tools/publish/expiry_options.h"

#include "update/release/release_signature.h"

#include <utility>
#include <vector>

namespace {

// A hundred years: far enough for any publisher, and far from the clock's limits.
constexpr std::chrono::seconds longestSpan = std::chrono::days(36500);

std::string counted(std::int64_t count, const char* unit) {
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

} // namespace

std::optional<std::chrono::seconds> parseExpiryDuration(const std::string& text) {
    if (text.size() < 2) {
        return std::nullopt;
    }
    const auto count = parseManifestSerial(text.substr(0, text.size() - 1));
    const std::pair<char, std::chrono::seconds> units[] = {{'s', std::chrono::seconds(1)},
                                                           {'m', std::chrono::minutes(1)},
                                                           {'h', std::chrono::hours(1)},
                                                           {'d', std::chrono::days(1)}};
    for (const auto& [letter, unit] : units) {
        if (text.back() != letter) {
            continue;
        }
        if (!count || *count == 0 ||
            *count > static_cast<std::uint64_t>(longestSpan.count() / unit.count())) {
            return std::nullopt;
        }
        return unit * static_cast<std::int64_t>(*count);
    }
    return std::nullopt;
}

bool readExpiryOptions(const ParsedArguments& parsed, UtcSeconds now,
                       std::optional<std::string>& expires, std::string& problem) {
    if (parsed.has(kExpiresIn) && parsed.has(kExpiresAt)) {
        problem = "give --expires-in or --expires-at, not both";
        return false;
    }
    if (parsed.has(kExpiresIn)) {
        const auto span = parseExpiryDuration(parsed.value(kExpiresIn));
        if (!span) {
            problem = "--expires-in takes a number followed by s, m, h or d (such as 7d), up to "
                      "36500 days";
            return false;
        }
        expires = formatUtcTime(now + *span);
    }
    if (parsed.has(kExpiresAt)) {
        const std::string& value = parsed.value(kExpiresAt);
        if (!parseUtcTime(value)) {
            problem = "--expires-at takes a UTC time as YYYY-MM-DDTHH:MM:SSZ, such as "
                      "2030-01-31T12:00:00Z";
            return false;
        }
        expires = value;
    }
    return true;
}

std::string describeSpan(std::chrono::seconds span) {
    const std::vector<std::pair<const char*, std::chrono::seconds>> units = {
        {"day", std::chrono::days(1)},
        {"hour", std::chrono::hours(1)},
        {"minute", std::chrono::minutes(1)},
        {"second", std::chrono::seconds(1)}};
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto& [name, unit] = units[i];
        if (span < unit && i + 1 < units.size()) {
            continue;
        }
        const std::int64_t whole = span / unit;
        const std::chrono::seconds rest = span - unit * whole;
        if (i + 1 == units.size() || rest < units[i + 1].second) {
            return counted(whole, name);
        }
        return counted(whole, name) + " " + counted(rest / units[i + 1].second, units[i + 1].first);
    }
    return {};
}

std::string expiredAlreadyWarning(const std::string& expires, UtcSeconds now) {
    const auto at = parseUtcTime(expires);
    if (!at || *at > now) {
        return {};
    }
    return "warning: the manifest expired at " + expires +
           " already; a launcher that checks signatures refuses it";
}
