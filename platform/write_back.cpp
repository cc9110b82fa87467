#include "platform/write_back.h"

#include <fcntl.h>

void startWritingBack(int fd) {
#ifdef SYNC_FILE_RANGE_WRITE
    // Offset 0 and length 0: the whole file. A failure only leaves the work to the later sync.
    (void)sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)fd;
#endif
}
