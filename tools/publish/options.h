#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

// What a sub-command accepts: options that take a value ("--output FILE" or "--output=FILE"),
// options that may be repeated, and plain switches.
struct AcceptedOptions {
    std::vector<std::string> valued = {};
    std::vector<std::string> repeated = {};
    std::vector<std::string> switches = {};
};

struct ParsedArguments {
    std::map<std::string, std::string> values;
    std::map<std::string, std::vector<std::string>> lists;
    std::vector<std::string> switches;
    std::vector<std::string> positionals;

    bool has(const std::string& name) const;
    bool hasSwitch(const std::string& name) const;
    std::string value(const std::string& name) const;
};

// Splits arguments by what is accepted; "-h"/"--help" always parse as the "--help" switch and "--"
// ends the options. None, with error set, on an unknown option, a missing value or an option given
// twice that may not be repeated.
std::optional<ParsedArguments> parseArguments(const std::vector<std::string>& arguments,
                                              const AcceptedOptions& accepted, std::string& error);

// The options among required that were not given, as "--a, --b".
std::string missingOptions(const ParsedArguments& parsed, const std::vector<std::string>& required);
