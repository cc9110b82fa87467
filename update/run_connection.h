#pragma once
#include "update/http/range_reader.h"
#include "update/remote_zip_source.h"
#include "update/road_ending.h"
#include "update/unpack/zip_entries.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include <zip.h>

// One connection of an entry-wise install to one of the places that serve the archive (its URL
// first, then the manifest's mirrors), with libzip's view of the archive there. Each connection
// is used by one thread at a time.
struct RunConnection {
    std::size_t place = 0;
    RangeReader* reader = nullptr;
    zip_t* archive = nullptr;
    // Owned when the connection made its own; the first may borrow the reader that planned.
    std::unique_ptr<RangeReader> ownReader;
    std::unique_ptr<RemoteZipSource> source;
    ArchiveHandle ownArchive;
};

// What every connection must find at its place: the archive the plan was made from.
struct ArchiveIdentity {
    ReaderSeed seed; // the first place's size, validator and the bytes its parsing read
    // Per entry of the plan, in its order: the archive's index, name, size and CRC-32.
    struct Entry {
        zip_uint64_t index = 0;
        std::string name;
        std::uint64_t size = 0;
        std::uint32_t crc = 0;
    };
    std::vector<Entry> entries;
};

ArchiveIdentity archiveIdentity(zip_t* archive, const std::vector<ZipEntry>& entries,
                                ReaderSeed seed);

// A new connection to places[place]. The first place is read from the seed (no request before
// its first run); any other is opened and must hold the same archive (its size, then each
// entry's name, size and CRC-32), or the ending says why not (TransferFailed, RangesRefused,
// Changed or ArchiveRefused with the reason, and no line logged).
Ending connect(RunConnection& connection, const std::vector<std::string>& places, std::size_t place,
               const ArchiveIdentity& identity, const TransferSettings& transfer,
               TransferTally& tally);
