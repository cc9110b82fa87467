#pragma once
#include <cstdint>
#include <string>
#include <zip.h>

// Whether the entries of archive, which holds archiveBytes, can each have data of their own inside
// it: every entry needs at least its local header, its name and its compressed data, and entries
// that do not share bytes always fit together. An archive whose entries claim more is refused
// (after a run-log line naming the entry at which they stop fitting) before any entry is fetched
// or written: its entries overlap, so that the same compressed bytes would be inflated again and
// again, or lie outside it.
bool entriesFitInArchive(zip_t* archive, std::uint64_t archiveBytes,
                         const std::string& archiveLabel);
