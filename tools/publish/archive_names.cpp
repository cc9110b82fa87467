#include "tools/publish/archive_names.h"

#include "tools/publish/commands.h"
#include "update/unpack/entry_name_collisions.h"

#include <fstream>
#include <iostream>
#include <memory>
#include <zip.h>

namespace {

constexpr std::size_t mostReported = 50;

struct ZipClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

std::string collisionProblem(const std::vector<std::string>& names,
                             const EntryNameCollision& collision) {
    return "entries '" + names[collision.first] + "' and '" + names[collision.second] +
           "' collide: " + entryNameCollisionReason(names, collision) +
           "; the launcher refuses such an archive";
}

} // namespace

bool archiveNamesStayApart(const std::vector<std::string>& names, std::string& problem) {
    const auto collision = firstEntryNameCollision(names);
    if (!collision) {
        return true;
    }
    problem = collisionProblem(names, *collision);
    return false;
}

bool looksLikeZipArchive(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char start[4] = {};
    // A local file header, or the end record of an empty archive.
    return file.read(start, 4) && start[0] == 'P' && start[1] == 'K' &&
           ((start[2] == 3 && start[3] == 4) || (start[2] == 5 && start[3] == 6));
}

int lintArchive(const std::string& path, bool quiet) {
    int code = 0;
    const std::unique_ptr<zip_t, ZipClose> archive(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!archive) {
        return reportError("lint", "cannot open " + path + " as a ZIP archive", kUsageError);
    }
    std::vector<std::string> names;
    const zip_int64_t total = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t index = 0; index < total; ++index) {
        const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(index), 0);
        names.push_back(name != nullptr ? name : "");
    }
    // Each pair is reported, then its later name taken out, so that every clash shows; a few
    // dozen say enough about an archive that is wrong all over.
    std::size_t problems = 0;
    while (const auto collision = firstEntryNameCollision(names)) {
        if (++problems > mostReported) {
            std::cout << path << ": more entries collide\n";
            break;
        }
        std::cout << path << ": " << collisionProblem(names, *collision) << "\n";
        names.erase(names.begin() + static_cast<std::ptrdiff_t>(collision->second));
    }
    if (!quiet) {
        std::cout << path << ": "
                  << (problems == 0 ? "the launcher unpacks every entry to a file of its own"
                                    : std::to_string(problems) + " problem(s)")
                  << "\n";
    }
    return problems == 0 ? kSuccess : kFailure;
}
