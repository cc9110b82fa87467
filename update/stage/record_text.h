#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The launcher's own record files: lines of fields separated by tabs, written whole or not at
// all. Entry names may hold any byte but the zero byte, so fields are escaped.

// "%", tab, line feed and carriage return as "%25", "%09", "%0A", "%0D".
std::string escapeField(std::string_view text);
// None when an escape is malformed.
std::optional<std::string> unescapeField(std::string_view text);

// The tab-separated fields of line, unescaped; none when one is malformed.
std::optional<std::vector<std::string>> recordFields(std::string_view line);
// The fields escaped and joined with tabs, with a line end.
std::string recordLine(const std::vector<std::string>& fields);

// The lines of text; the last one must end with a line end (a record cut short is no record).
std::optional<std::vector<std::string>> recordLines(const std::string& text);

// Writes text to partialName in folder, makes it durable, renames it to name and makes the
// rename durable: a reader finds the old record or the new one, never a part. False (partial
// removed) on any failure.
bool writeRecordDurably(int folder, const std::string& name, const std::string& partialName,
                        const std::string& text);

// The whole regular file name in folder (a link is not followed); none when it cannot be read.
std::optional<std::string> readRecord(int folder, const std::string& name);

// A number field; none unless the whole field is one in the base given.
std::optional<unsigned long long> numberField(const std::string& field, int base = 10);
std::optional<long long> signedNumberField(const std::string& field);
