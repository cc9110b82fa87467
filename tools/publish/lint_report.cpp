#include "tools/publish/lint_report.h"

#include "tools/publish/rollout_findings.h"
#include "update/release/mirror_urls.h"

#include <iostream>
#include <nlohmann/json.hpp>

std::size_t LintReport::traps() const {
    std::size_t count = 0;
    for (const auto& finding : findings) {
        count += finding.trap ? 1 : 0;
    }
    return count;
}

namespace {

void printReadingOf(const LatestVersionInfo& info, const Rollout& rollout, int parseResult) {
    std::cout << "The launcher reads:\n";
    for (std::size_t key = 0; key < kManifestKeys.size(); ++key) {
        std::cout << "  " << kManifestKeys[key] << " = \"" << manifestField(info, key) << "\"\n";
    }
    if (!info.ApplicationDownloadMirrorUrls.empty()) {
        std::cout << "  " << mirrorUrlsKey << " = \"" << info.ApplicationDownloadMirrorUrls
                  << "\"\n";
    }
    if (rollout.named) {
        std::cout << "  " << rolloutPercentKey << " = \"" << rollout.value << "\"\n";
    }
    std::cout << "Rollout: " << rolloutSummary(rollout) << "\n";
    std::cout << "Parser result: " << parseResult
              << (parseResult == 0 ? " (no malformed line)\n"
                                   : " (the first malformed line, counted in 199-byte pieces)\n");
}

} // namespace

void printLintReading(const LintReport& report) {
    printReadingOf(report.reading, report.rollout, report.parseResult);
}

void printLintText(const LintReport& report, bool quiet) {
    for (const auto& finding : report.findings) {
        std::cout << report.source;
        if (finding.line != 0) {
            std::cout << ":" << finding.line;
        }
        std::cout << ": " << (finding.trap ? "" : "note: ") << finding.message << "\n";
    }
    if (quiet) {
        return;
    }
    printLintReading(report);
    const std::size_t traps = report.traps();
    std::cout << report.source << ": "
              << (traps == 0 ? "the launcher reads it as written"
                             : std::to_string(traps) + " problem(s)")
              << "\n";
}

void printLintJson(const LintReport& report) {
    nlohmann::json findings = nlohmann::json::array();
    for (const auto& finding : report.findings) {
        findings.push_back({{"line", finding.line},
                            {"kind", finding.trap ? "problem" : "note"},
                            {"message", finding.message}});
    }
    nlohmann::json reading = nlohmann::json::object();
    for (std::size_t key = 0; key < kManifestKeys.size(); ++key) {
        reading[kManifestKeys[key]] = manifestField(report.reading, key);
    }
    if (!report.reading.ApplicationDownloadMirrorUrls.empty()) {
        reading[mirrorUrlsKey] = report.reading.ApplicationDownloadMirrorUrls;
    }
    if (report.rollout.named) {
        reading[rolloutPercentKey] = report.rollout.value;
    }
    const nlohmann::json out = {{"source", report.source},
                                {"findings", findings},
                                {"reading", reading},
                                {"rollout", rolloutSummary(report.rollout)},
                                {"parserResult", report.parseResult},
                                {"problems", report.traps()},
                                {"passed", report.traps() == 0}};
    // Bytes that are not UTF-8 (a manifest may hold any) are replaced, never a failed print.
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

void printLintJsonError(const std::string& source, const std::string& error) {
    const nlohmann::json out = {{"source", source}, {"error", error}, {"passed", false}};
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}
