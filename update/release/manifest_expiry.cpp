#include "update/release/manifest_expiry.h"

#include <cstdio>
#include <cstring>
#include <ini.h>

namespace {

// Digits at text[at, at + count), as a number; none when any of them is not a digit.
std::optional<int> digitsAt(const std::string& text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int expiresHandler(void* user, const char* section, const char* name, const char* value) {
    if (section[0] == '\0' && std::strcmp(name, "ManifestExpires") == 0) {
        *static_cast<std::optional<std::string>*>(user) = value;
    }
    return 1;
}

} // namespace

std::optional<UtcSeconds> parseUtcTime(const std::string& text) {
    // YYYY-MM-DDTHH:MM:SSZ
    constexpr std::size_t length = 20;
    if (text.size() != length || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    const auto year = digitsAt(text, 0, 4);
    const auto month = digitsAt(text, 5, 2);
    const auto day = digitsAt(text, 8, 2);
    const auto hour = digitsAt(text, 11, 2);
    const auto minute = digitsAt(text, 14, 2);
    const auto second = digitsAt(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    // No leap second: a time that a clock never shows is a typing error here.
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    return std::chrono::sys_days(date) + std::chrono::hours(*hour) + std::chrono::minutes(*minute) +
           std::chrono::seconds(*second);
}

std::string formatUtcTime(UtcSeconds time) {
    const auto days = std::chrono::floor<std::chrono::days>(time);
    const std::chrono::year_month_day date(days);
    const std::chrono::hh_mm_ss clock(time - days);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()));
    return text;
}

std::optional<std::string> readManifestExpires(const std::string& text) {
    std::optional<std::string> value;
    ini_parse_string(text.c_str(), expiresHandler, &value);
    return value;
}

bool hasExpired(const std::optional<std::string>& value, UtcSeconds now) {
    const auto expires = value ? parseUtcTime(*value) : std::nullopt;
    return expires && now >= *expires;
}

std::string expiryProblem(const std::optional<std::string>& value, UtcSeconds now) {
    if (!value) {
        return {};
    }
    if (!parseUtcTime(*value)) {
        return "ManifestExpires is not a UTC time: " + *value;
    }
    return hasExpired(value, now) ? "it expired at " + *value : std::string();
}

UtcSeconds utcNow() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}
