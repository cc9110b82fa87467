#pragma once
#include "update/http/range_reader.h"

#include <cstdint>
#include <zip.h>

// libzip's view of an archive on a web server: a source whose reads go to a range reader, so
// that libzip parses the archive and unpacks single entries with only the bytes it reads.
class RemoteZipSource {
  public:
    explicit RemoteZipSource(RangeReader& reader);
    ~RemoteZipSource();
    RemoteZipSource(const RemoteZipSource&) = delete;
    RemoteZipSource& operator=(const RemoteZipSource&) = delete;

    // A libzip source over the reader, owned by the caller (zip_open_from_source takes it); it
    // must be freed before this object goes. None when libzip cannot make one.
    zip_source_t* makeSource();

  private:
    static zip_int64_t callback(void* user, void* data, zip_uint64_t length,
                                zip_source_cmd_t command);
    zip_int64_t answer(void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t readInto(char* data, zip_uint64_t length);

    RangeReader& reader;
    std::uint64_t position = 0;
    zip_error_t error{};
};
