#include "tools/publish/verify_report.h"

#include <iostream>
#include <nlohmann/json.hpp>

void VerifyReport::operator()(const std::string& name, bool passed, const std::string& detail) {
    lines.push_back(
        {name, passed ? VerifyLine::Kind::Passed : VerifyLine::Kind::Failed, passed ? "" : detail});
    failures += passed ? 0 : 1;
}

void VerifyReport::ok(const std::string& name, const std::string& detail) {
    lines.push_back({name, VerifyLine::Kind::Passed, detail});
}

void VerifyReport::note(const std::string& name, const std::string& detail) {
    lines.push_back({name, VerifyLine::Kind::Note, detail});
}

void printVerifyText(const VerifyReport& report) {
    for (const VerifyLine& line : report.lines) {
        std::cout << line.name << ": ";
        switch (line.kind) {
        case VerifyLine::Kind::Passed:
            std::cout << "ok" << (line.detail.empty() ? "" : ", " + line.detail);
            break;
        case VerifyLine::Kind::Failed:
            std::cout << "FAILED, " << line.detail;
            break;
        case VerifyLine::Kind::Note:
            std::cout << line.detail;
            break;
        }
        std::cout << "\n";
    }
}

namespace {

const char* resultName(VerifyLine::Kind kind) {
    switch (kind) {
    case VerifyLine::Kind::Passed:
        return "ok";
    case VerifyLine::Kind::Failed:
        return "failed";
    case VerifyLine::Kind::Note:
        return "note";
    }
    return "note";
}

void printJson(const nlohmann::json& out) {
    // Text from a server need not be UTF-8: such bytes are replaced, never a failed print.
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

} // namespace

void printVerifyJson(const VerifyReport& report, const std::string& manifest) {
    nlohmann::json checks = nlohmann::json::array();
    for (const VerifyLine& line : report.lines) {
        checks.push_back(
            {{"name", line.name}, {"result", resultName(line.kind)}, {"detail", line.detail}});
    }
    printJson({{"manifest", manifest},
               {"checks", checks},
               {"failures", report.failures},
               {"passed", report.failures == 0}});
}

void printVerifyJsonError(const std::string& manifest, const std::string& error) {
    printJson({{"manifest", manifest}, {"error", error}, {"passed", false}});
}
