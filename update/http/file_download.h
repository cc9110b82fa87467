#pragma once
#include "update/http/curl_session.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Sees every byte that reached the file, in order: a download is hashed while it arrives and
// never read a second time.
using ReceivedBytes = std::function<void(const char* data, std::size_t size)>;

// What the server of a download answered, for a caller that may try another place: the HTTP
// status (0 when no answer came) and, for a transfer that failed, why.
struct DownloadAnswer {
    long httpStatus = 0;
    std::string failure;
};

// GET url into a fresh file at path with the archives' transfer options for settings; the progress
// goes to downloadProgressPercent, from 0. Whatever stood at path is removed first and the file is
// created anew, never through a link. False after one run-log line ("Failed to open file", or
// libcurl's text); what arrived stays in the file. An error page is a completed transfer: answer
// (when given) tells its status.
bool downloadToFile(const std::string& url, const std::string& path,
                    const TransferSettings& settings, const ReceivedBytes& received = {},
                    DownloadAnswer* answer = nullptr);

// libcurl write callback; file is the open output FILE*. Returns what fwrite wrote, so that a
// short write ends the transfer with libcurl's write error.
std::size_t writeToFileCallback(char* data, std::size_t size, std::size_t count, void* file);

// The size that the server announces for url, asked with a HEAD request (no byte of the body is
// sent); none when it does not say or cannot be reached.
std::optional<std::uint64_t> remoteFileSize(const std::string& url,
                                            const TransferSettings& settings);
