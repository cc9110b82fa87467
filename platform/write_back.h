#pragma once

// Asks the system to start writing fd's data to the disk now, without waiting for it. A later
// sync of the whole file system (the one that makes an update durable) then has little left to
// wait for, instead of all of an install's bytes at once. Does nothing where the system has no
// such request.
void startWritingBack(int fd);
