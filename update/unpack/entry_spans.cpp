#include "update/unpack/entry_spans.h"

#include "update/unpack/zip_entries.h"

#include <cstring>

// libzip has no public way to ask where an entry starts, so the check works with what its central
// directory records: the sum of the entries' least spans. It cannot tell which entries overlap,
// but an archive that passes makes its entries read no more compressed bytes in all than it
// holds, as an archive of honest entries does: sharing data gains an attacker nothing.
//
// libzip's ZIP_CHECKCONS is not used. It compares every entry's local header with the central
// directory, which on the entry-wise road would cost a range request per entry before anything
// is planned, and it finds shared data only where the entries share one local header under
// different names, not where each was given a local header of its own. It also refuses entries
// that start past the central directory; here such an entry fails when it is opened, before any
// of its data is read.

namespace {

// A local header's fixed part; its name follows, then its extra fields (not counted: libzip shows
// only the central directory's) and the compressed data.
constexpr std::uint64_t localHeaderBytes = 30;

constexpr char overlapProblem[] = "its data overlaps other entries' or lies outside the archive";

} // namespace

bool entriesFitInArchive(zip_t* archive, std::uint64_t archiveBytes,
                         const std::string& archiveLabel) {
    const zip_int64_t total = zip_get_num_entries(archive, 0);
    std::uint64_t claimed = 0; // never more than archiveBytes
    for (zip_int64_t position = 0; position < total; ++position) {
        const auto index = static_cast<zip_uint64_t>(position);
        const char* rawName = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
        zip_stat_t status;
        if (rawName == nullptr || zip_stat_index(archive, index, 0, &status) != 0 ||
            (status.valid & ZIP_STAT_COMP_SIZE) == 0) {
            logEntryProblem(archiveLabel, "#" + std::to_string(position),
                            std::string("cannot read the entry: ") + zip_strerror(archive));
            return false;
        }
        const std::uint64_t room = archiveBytes - claimed;
        if (status.comp_size > room ||
            localHeaderBytes + std::strlen(rawName) > room - status.comp_size) {
            const char* name = zip_get_name(archive, index, 0);
            logEntryProblem(archiveLabel, name != nullptr ? name : rawName, overlapProblem);
            return false;
        }
        claimed += localHeaderBytes + std::strlen(rawName) + status.comp_size;
    }
    return true;
}
