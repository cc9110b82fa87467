#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// A property list (XML or binary) read whole from disk. Only what the launcher needs:
// a dictionary root and the scalar values under its keys.
struct PropertyListNodeDeleter {
    void operator()(void* node) const;
};
using PropertyList = std::unique_ptr<void, PropertyListNodeDeleter>;

enum class PropertyListValueKind { Absent, String, Integer, Real, Boolean, Other };

// The root of the file at path when it is a dictionary; otherwise none, with a reason.
std::optional<PropertyList> loadPropertyListDictionary(const std::string& path,
                                                       std::string& problem);

// The same from bytes already read (an archive's entry); name stands for the file in problem.
std::optional<PropertyList> propertyListDictionaryFromBytes(const std::string& data,
                                                            const std::string& name,
                                                            std::string& problem);

PropertyListValueKind propertyListValueKind(const PropertyList& dictionary, const std::string& key);

// The value under key, or none when it is absent or of another kind.
std::optional<std::string> propertyListString(const PropertyList& dictionary,
                                              const std::string& key);

// The value under key read as an integer the way NSNumber/NSString intValue read it:
// integers keep their low 32 bits, reals are truncated toward zero (saturating), booleans
// give 1 or 0, strings their leading decimal integer. Absent: 0. Other kinds: none.
std::optional<std::int32_t> propertyListIntValue(const PropertyList& dictionary,
                                                 const std::string& key);
