#include "platform/property_list.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <plist/plist.h>

void PropertyListNodeDeleter::operator()(void* node) const {
    plist_free(static_cast<plist_t>(node));
}

namespace {

// Larger files are not settings; refuse them before reading them into memory.
constexpr std::uintmax_t maxPropertyListBytes = 16 * 1024 * 1024;

plist_t valueFor(const PropertyList& dictionary, const std::string& key) {
    return plist_dict_get_item(static_cast<plist_t>(dictionary.get()), key.c_str());
}

std::int32_t saturatedTruncation(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(INT32_MAX)) {
        return INT32_MAX;
    }
    if (value <= static_cast<double>(INT32_MIN)) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(std::trunc(value));
}

// NSString intValue: optional blanks, optional sign, decimal digits; saturates; 0 without digits.
std::int32_t leadingIntValue(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' ||
                                text[at] == '\r' || text[at] == '\v' || text[at] == '\f')) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    std::int64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > static_cast<std::int64_t>(INT32_MAX) + 1) {
            magnitude = static_cast<std::int64_t>(INT32_MAX) + 1;
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

std::optional<PropertyList> loadPropertyListDictionary(const std::string& path,
                                                       std::string& problem) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        problem = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string data;
    char chunk[65536];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        data.append(chunk, static_cast<std::size_t>(file.gcount()));
        if (data.size() > maxPropertyListBytes) {
            problem = path + " is too large to be a settings file";
            return std::nullopt;
        }
    }
    if (file.bad()) {
        problem = "cannot read " + path;
        return std::nullopt;
    }
    return propertyListDictionaryFromBytes(data, path, problem);
}

std::optional<PropertyList> propertyListDictionaryFromBytes(const std::string& data,
                                                            const std::string& name,
                                                            std::string& problem) {
    if (data.size() > maxPropertyListBytes) {
        problem = name + " is too large to be a settings file";
        return std::nullopt;
    }
    plist_t root = nullptr;
    if (!data.empty()) {
        plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &root);
    }
    PropertyList list(root);
    if (!list) {
        problem = name + " is not a property list";
        return std::nullopt;
    }
    if (plist_get_node_type(root) != PLIST_DICT) {
        problem = name + " does not hold a dictionary at its root";
        return std::nullopt;
    }
    return list;
}

PropertyListValueKind propertyListValueKind(const PropertyList& dictionary,
                                            const std::string& key) {
    plist_t value = valueFor(dictionary, key);
    if (value == nullptr) {
        return PropertyListValueKind::Absent;
    }
    switch (plist_get_node_type(value)) {
    case PLIST_STRING:
        return PropertyListValueKind::String;
    case PLIST_UINT:
        return PropertyListValueKind::Integer;
    case PLIST_REAL:
        return PropertyListValueKind::Real;
    case PLIST_BOOLEAN:
        return PropertyListValueKind::Boolean;
    default:
        return PropertyListValueKind::Other;
    }
}

std::optional<std::string> propertyListString(const PropertyList& dictionary,
                                              const std::string& key) {
    plist_t value = valueFor(dictionary, key);
    if (value == nullptr || plist_get_node_type(value) != PLIST_STRING) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(value, &length);
    return text ? std::string(text, length) : std::string();
}

std::optional<std::int32_t> propertyListIntValue(const PropertyList& dictionary,
                                                 const std::string& key) {
    plist_t value = valueFor(dictionary, key);
    if (value == nullptr) {
        return 0;
    }
    switch (plist_get_node_type(value)) {
    case PLIST_UINT: {
        std::uint64_t number = 0;
        plist_get_uint_val(value, &number);
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
    }
    case PLIST_REAL: {
        double number = 0;
        plist_get_real_val(value, &number);
        return saturatedTruncation(number);
    }
    case PLIST_BOOLEAN: {
        std::uint8_t flag = 0;
        plist_get_bool_val(value, &flag);
        return flag ? 1 : 0;
    }
    case PLIST_STRING: {
        std::uint64_t length = 0;
        const char* text = plist_get_string_ptr(value, &length);
        return leadingIntValue(text ? std::string(text, length) : std::string());
    }
    default:
        return std::nullopt;
    }
}
