#include "update/remote_zip_source.h"

#include <cerrno>

RemoteZipSource::RemoteZipSource(RangeReader& rangeReader) : reader(rangeReader) {
    zip_error_init(&error);
}

RemoteZipSource::~RemoteZipSource() {
    zip_error_fini(&error);
}

zip_source_t* RemoteZipSource::makeSource() {
    return zip_source_function_create(callback, this, nullptr);
}

zip_int64_t RemoteZipSource::callback(void* user, void* data, zip_uint64_t length,
                                      zip_source_cmd_t command) {
    return static_cast<RemoteZipSource*>(user)->answer(data, length, command);
}

zip_int64_t RemoteZipSource::readInto(char* data, zip_uint64_t length) {
    const std::int64_t read = reader.read(position, data, length);
    if (read < 0) {
        zip_error_set(&error, ZIP_ER_READ, EIO);
        return -1;
    }
    position += static_cast<std::uint64_t>(read);
    return read;
}

zip_int64_t RemoteZipSource::answer(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
    case ZIP_SOURCE_OPEN:
        position = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return readInto(static_cast<char*>(data), length);
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* status = static_cast<zip_stat_t*>(data);
        zip_stat_init(status);
        status->size = reader.size();
        status->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error, data, length);
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t target =
            zip_source_seek_compute_offset(position, reader.size(), data, length, &error);
        if (target < 0) {
            return -1;
        }
        position = static_cast<std::uint64_t>(target);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(position);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}
