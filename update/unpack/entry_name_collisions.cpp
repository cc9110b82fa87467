#include "update/unpack/entry_name_collisions.h"

#include <glib.h>

#include <algorithm>
#include <memory>
#include <unordered_map>

namespace {

struct GlibFree {
    void operator()(gchar* text) const { g_free(text); }
};
using GlibText = std::unique_ptr<gchar, GlibFree>;

// The form under which a disk that ignores case and normalization compares a name: decomposed,
// case-folded and decomposed again, as folding can leave composed characters behind. GLib folds
// fully, so a few pairs (such as "ß" and "ss") count as one that a Mac might keep apart; those
// are refused rather than risked. Bytes that are no UTF-8 are compared as they are: such a name
// cannot be written on a Mac at all.
std::string comparedForm(const std::string& name) {
    if (!g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) {
        return name;
    }
    const GlibText decomposed(
        g_utf8_normalize(name.data(), static_cast<gssize>(name.size()), G_NORMALIZE_NFD));
    if (!decomposed) {
        return name;
    }
    const GlibText folded(g_utf8_casefold(decomposed.get(), -1));
    const GlibText again(g_utf8_normalize(folded.get(), -1, G_NORMALIZE_NFD));
    return again ? std::string(again.get()) : name;
}

// The components of an archive path that name folders and files on disk.
std::vector<std::string> pathComponents(const std::string& name) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        std::string piece = name.substr(start, end - start);
        if (!piece.empty() && piece != ".") {
            components.push_back(std::move(piece));
        }
        start = end + 1;
    }
    return components;
}

// The first spelling of a place on disk, and the entry that brought it.
struct Place {
    std::string spelling;
    std::size_t entry = 0;
};

} // namespace

std::optional<EntryNameCollision> firstEntryNameCollision(const std::vector<std::string>& names) {
    std::unordered_map<std::string, Place> places;        // by compared form of the path so far
    std::unordered_map<std::string, std::size_t> entries; // files and links, by whole spelling
    for (std::size_t position = 0; position < names.size(); ++position) {
        std::string spelling;
        std::string compared;
        for (const std::string& component : pathComponents(names[position])) {
            spelling += (spelling.empty() ? "" : "/") + component;
            compared += "/" + comparedForm(component);
            const auto [place, added] = places.try_emplace(compared, Place{spelling, position});
            if (!added && place->second.spelling != spelling) {
                return EntryNameCollision{place->second.entry, position, place->second.spelling,
                                          spelling};
            }
        }
        // A folder entry only says the folder is there; where a file or link of the same
        // spelling comes too, the later replaces the earlier on every disk alike.
        if (spelling.empty() || names[position].back() == '/') {
            continue;
        }
        const auto [entry, added] = entries.try_emplace(spelling, position);
        if (!added) {
            return EntryNameCollision{entry->second, position, spelling, spelling};
        }
    }
    return std::nullopt;
}

std::string entryNameCollisionReason(const std::vector<std::string>& names,
                                     const EntryNameCollision& collision) {
    if (collision.firstSpelling == collision.secondSpelling) {
        return "the same name twice";
    }
    const std::string why = "differ only in letter case or Unicode normalization, and are one "
                            "name on a disk that ignores both, as a Mac's does";
    const bool wholeNames =
        pathComponents(names[collision.first]) == pathComponents(collision.firstSpelling) &&
        pathComponents(names[collision.second]) == pathComponents(collision.secondSpelling);
    if (wholeNames) {
        return "their names " + why;
    }
    return "'" + collision.firstSpelling + "' and '" + collision.secondSpelling + "' " + why;
}
