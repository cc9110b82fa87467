#include "update/stage/record_text.h"

#include "platform/file_descriptor.h"
#include "platform/regular_file.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

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

bool writeAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t done = ::write(fd, text.data() + written, text.size() - written);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(done);
    }
    return true;
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

std::optional<std::vector<std::string>> recordLines(const std::string& text) {
    if (text.empty() || text.back() != '\n') {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool writeRecordDurably(int folder, const std::string& name, const std::string& partialName,
                        const std::string& text) {
    unlinkat(folder, partialName.c_str(), 0);
    const Descriptor file(openat(folder, partialName.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    const bool written = file.valid() && writeAll(file.fd, text) && ::fsync(file.fd) == 0 &&
                         renameat(folder, partialName.c_str(), folder, name.c_str()) == 0;
    if (!written) {
        unlinkat(folder, partialName.c_str(), 0);
        return false;
    }
    return ::fsync(folder) == 0;
}

std::optional<std::string> readRecord(int folder, const std::string& name) {
    return readRegularFile(folder, name);
}

std::optional<unsigned long long> numberField(const std::string& field, int base) {
    return parsed<unsigned long long>(field, base);
}

std::optional<long long> signedNumberField(const std::string& field) {
    return parsed<long long>(field, 10);
}
