#include "update/stage/record_text.h"

#include <charconv>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

template <typename Number> std::optional<Number> parsed(const std::string& field, int base) {
    Number value{};
    const char* end = field.data() + field.size();
    const auto result = std::from_chars(field.data(), end, value, base);
    if (field.empty() || result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string escapeField(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '%':
            escaped += "%25";
            break;
        case '\t':
            escaped += "%09";
            break;
        case '\n':
            escaped += "%0A";
            break;
        case '\r':
            escaped += "%0D";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::optional<std::string> unescapeField(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            plain += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        plain += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return plain;
}

std::optional<std::vector<std::string>> recordFields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = line.find('\t', start);
        auto field = unescapeField(line.substr(start, end - start));
        if (!field) {
            return std::nullopt;
        }
        fields.push_back(std::move(*field));
        if (end == std::string_view::npos) {
            return fields;
        }
        start = end + 1;
    }
}

std::string recordLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        line += (i == 0 ? "" : "\t") + escapeField(fields[i]);
    }
    return line + "\n";
}

std::optional<std::vector<std::vector<std::string>>>
recordBody(const std::string& text, std::string_view header, std::string& problem) {
    if (text.empty()) {
        problem = "it is empty";
        return std::nullopt;
    }
    if (text.back() != '\n') {
        problem = "it is cut short: its last line has no line end";
        return std::nullopt;
    }
    const std::size_t firstEnd = text.find('\n');
    if (std::string_view(text).substr(0, firstEnd) != header) {
        problem = "line 1: it is not \"" + std::string(header) + "\"";
        return std::nullopt;
    }
    std::vector<std::vector<std::string>> body;
    std::size_t start = firstEnd + 1;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string_view line = std::string_view(text).substr(start, end - start);
        start = end + 1;
        if (line == "end") {
            if (start == text.size()) {
                return body;
            }
            problem = bodyLineProblem(body.size(), "\"end\" is not the last line");
            return std::nullopt;
        }
        auto fields = recordFields(line);
        if (!fields) {
            problem = bodyLineProblem(body.size(), "a field holds a malformed escape");
            return std::nullopt;
        }
        body.push_back(std::move(*fields));
    }
    problem = "it is cut short: no \"end\" line ends it";
    return std::nullopt;
}

std::string bodyLineProblem(std::size_t index, const std::string& why) {
    return "line " + std::to_string(index + 2) + ": " + why;
}

std::optional<unsigned long long> numberField(const std::string& field, int base) {
    return parsed<unsigned long long>(field, base);
}

std::optional<long long> signedNumberField(const std::string& field) {
    return parsed<long long>(field, 10);
}
