#include "update/run_connection.h"

#include "update/unpack/archive_open.h"

ArchiveIdentity archiveIdentity(zip_t* archive, const std::vector<ZipEntry>& entries,
                                ReaderSeed seed) {
    ArchiveIdentity identity{std::move(seed), {}};
    identity.entries.reserve(entries.size());
    for (const ZipEntry& entry : entries) {
        zip_stat_t status;
        const bool known =
            zip_stat_index(archive, entry.index, 0, &status) == 0 && (status.valid & ZIP_STAT_CRC);
        identity.entries.push_back({entry.index, entry.name, entry.size, known ? status.crc : 0});
    }
    return identity;
}

namespace {

// Another place's archive must be the first one's byte for byte; its central directory says so
// for every entry before any of its bytes are staged (their hashes then check the rest).
Problem otherArchive(zip_t* archive, const ArchiveIdentity& identity) {
    for (const ArchiveIdentity::Entry& expected : identity.entries) {
        zip_stat_t status;
        const zip_uint64_t needed = ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_CRC;
        if (zip_stat_index(archive, expected.index, ZIP_FL_ENC_RAW, &status) != 0 ||
            (status.valid & needed) != needed || expected.name != status.name ||
            status.size != expected.size || status.crc != expected.crc) {
            return "its archive differs at the entry " + expected.name;
        }
    }
    return {};
}

} // namespace

Ending connect(RunConnection& connection, const std::vector<std::string>& places, std::size_t place,
               const ArchiveIdentity& identity, const TransferSettings& transfer,
               TransferTally& tally) {
    // libzip's view goes first: it calls into the source, which reads through the reader.
    connection.archive = nullptr;
    connection.reader = nullptr;
    connection.ownArchive.reset();
    connection.source.reset();
    connection.ownReader.reset();
    connection.place = place;
    const std::string& url = places[place];
    if (place == 0) {
        connection.ownReader = std::make_unique<RangeReader>(url, transfer, identity.seed);
    } else {
        connection.ownReader = std::make_unique<RangeReader>(url, transfer);
        connection.ownReader->open();
    }
    RangeReader& reader = *connection.ownReader;
    reader.countInto(tally);
    if (const Ending ending = readerEnding(reader); ending.step != Step::Done) {
        return ending;
    }
    if (reader.size() != identity.seed.size) {
        return endingOf(Step::ArchiveRefused, "its archive has another size (" +
                                                  std::to_string(reader.size()) + " bytes, not " +
                                                  std::to_string(identity.seed.size) + ")");
    }
    connection.source = std::make_unique<RemoteZipSource>(reader);
    zip_error_t error;
    zip_error_init(&error);
    bool tooLarge = false;
    connection.ownArchive = openArchive(connection.source->makeSource(), url, error, tooLarge);
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    if (const Ending ending = readerEnding(reader); ending.step != Step::Done) {
        return ending;
    }
    if (!connection.ownArchive) {
        return endingOf(Step::ArchiveRefused, "it serves no ZIP archive: " + why);
    }
    const Problem differs =
        place == 0 ? Problem() : otherArchive(connection.ownArchive.get(), identity);
    if (!differs.empty()) {
        return endingOf(Step::ArchiveRefused, differs);
    }
    connection.reader = &reader;
    connection.archive = connection.ownArchive.get();
    return {};
}
