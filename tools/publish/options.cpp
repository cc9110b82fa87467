#include "tools/publish/options.h"

#include <algorithm>

namespace {

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// "--name=value" is split in two; anything else is returned as it is with no inline value.
std::pair<std::string, std::optional<std::string>> splitInlineValue(const std::string& word) {
    const auto equals = word.find('=');
    if (word.rfind("--", 0) != 0 || equals == std::string::npos) {
        return {word, std::nullopt};
    }
    return {word.substr(0, equals), word.substr(equals + 1)};
}

} // namespace

bool ParsedArguments::has(const std::string& name) const {
    return values.count(name) != 0 || lists.count(name) != 0;
}

bool ParsedArguments::hasSwitch(const std::string& name) const {
    return contains(switches, name);
}

std::string ParsedArguments::value(const std::string& name) const {
    const auto found = values.find(name);
    return found == values.end() ? std::string() : found->second;
}

std::optional<ParsedArguments> parseArguments(const std::vector<std::string>& arguments,
                                              const AcceptedOptions& accepted, std::string& error) {
    ParsedArguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (optionsEnded || word == "-" || word.empty() || word[0] != '-') {
            parsed.positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        auto [name, inlineValue] = splitInlineValue(word);
        if (name == "-h" || name == "--help") {
            parsed.switches.push_back("--help");
            continue;
        }
        if (contains(accepted.switches, name)) {
            if (inlineValue) {
                error = name + " takes no value";
                return std::nullopt;
            }
            parsed.switches.push_back(name);
            continue;
        }
        const bool repeated = contains(accepted.repeated, name);
        if (!repeated && !contains(accepted.valued, name)) {
            error = "unknown option " + name;
            return std::nullopt;
        }
        if (!inlineValue && i + 1 == arguments.size()) {
            error = name + " needs a value";
            return std::nullopt;
        }
        const std::string value = inlineValue ? *inlineValue : arguments[++i];
        if (repeated) {
            parsed.lists[name].push_back(value);
            continue;
        }
        if (!parsed.values.emplace(name, value).second) {
            error = name + " is given twice";
            return std::nullopt;
        }
    }
    return parsed;
}

std::string missingOptions(const ParsedArguments& parsed,
                           const std::vector<std::string>& required) {
    std::string missing;
    for (const auto& name : required) {
        if (!parsed.has(name)) {
            missing += (missing.empty() ? "" : ", ") + name;
        }
    }
    return missing;
}
