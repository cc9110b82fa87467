#pragma once
#include <string>
#include <vector>

// What verify found, one line per check or fact, gathered before anything is printed so that the
// text and the JSON form say the same.
struct VerifyLine {
    enum class Kind { Passed, Failed, Note };
    std::string name;
    Kind kind = Kind::Note;
    std::string detail; // why a check failed, what a passed check adds, or the fact noted
};

struct VerifyReport {
    std::vector<VerifyLine> lines;
    int failures = 0;

    // A check: "name: ok", or "name: FAILED, detail".
    void operator()(const std::string& name, bool passed, const std::string& detail);
    // A passed check that says more: "name: ok, detail".
    void ok(const std::string& name, const std::string& detail);
    // A fact that is no check: "name: detail".
    void note(const std::string& name, const std::string& detail);
};

void printVerifyText(const VerifyReport& report);
// One JSON object: the manifest, every line (name, result, detail), the failures and the verdict.
void printVerifyJson(const VerifyReport& report, const std::string& manifest);
// The JSON object for a verify that could not start (an unreadable manifest, a wrong option).
void printVerifyJsonError(const std::string& manifest, const std::string& error);
