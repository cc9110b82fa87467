#pragma once
#include <string>
#include <utility>
#include <vector>

// A property-list dictionary to write as XML or binary. Values are given as XML value elements,
// e.g. "<string>x</string>", "<integer>3</integer>", "<real>3.9</real>", "<true/>".
using PlistEntries = std::vector<std::pair<std::string, std::string>>;

std::string plistXml(const PlistEntries& entries);
void writeXmlPlist(const std::string& path, const PlistEntries& entries);
// The same dictionary in the binary format (converted with libplist).
void writeBinaryPlist(const std::string& path, const PlistEntries& entries);
