#include "platform/durable_record.h"

#include "platform/file_descriptor.h"
#include "platform/write_all.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

bool writeRecordDurably(int folder, const std::string& name, const std::string& partialName,
                        std::string_view text) {
    unlinkat(folder, partialName.c_str(), 0);
    const Descriptor file(openat(folder, partialName.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    const bool written = file.valid() && writeAll(file.fd, text.data(), text.size()) &&
                         ::fsync(file.fd) == 0 &&
                         renameat(folder, partialName.c_str(), folder, name.c_str()) == 0;
    if (!written) {
        const int error = errno;
        unlinkat(folder, partialName.c_str(), 0);
        errno = error;
        return false;
    }
    // A file system that cannot sync a folder (EINVAL) keeps its entries as it keeps them.
    return ::fsync(folder) == 0 || errno == EINVAL;
}
