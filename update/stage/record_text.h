#pragma once
#include "platform/durable_record.h"
#include "platform/regular_file.h"

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

// The lines of a record file between its header line and its "end" line, each with its fields
// unescaped; none when the record is cut short, begins otherwise or a line is malformed, with
// why (and which line) in problem.
std::optional<std::vector<std::vector<std::string>>>
recordBody(const std::string& text, std::string_view header, std::string& problem);

// Why the body line at index (0: the line after the header) is refused: "line <n>: " + why.
std::string bodyLineProblem(std::size_t index, const std::string& why);

// A number field; none unless the whole field is one in the base given.
std::optional<unsigned long long> numberField(const std::string& field, int base = 10);
std::optional<long long> signedNumberField(const std::string& field);
