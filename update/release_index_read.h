#pragma once
#include "update/install_plan.h"

#include <functional>
#include <optional>
#include <string>
#include <zip.h>

// An archive's release index as read: its text and the SHA-256 of its bytes.
struct ReleaseIndexText {
    std::string text;
    std::string sha256;
};

// Reads the entry at index, the archive's release index, in pieces that are hashed as they pass,
// so that the hash can be compared before anything is made of the text. The index lists each
// other entry at most once, in a line of at most a "\", the hash, two marks, the name with every
// byte escaped and a line end: an index that declares more bytes than that is refused unread,
// after a run-log line naming url (refused then says so). None as well, without a line, when it
// cannot be read or inflates past its declared size.
std::optional<ReleaseIndexText> readReleaseIndexEntry(zip_t* archive, zip_uint64_t index,
                                                      const std::string& url, bool& refused);

// The release index of archive by name, its hash compared with requiredSha256 (a launcher that
// checks signatures) before the text is parsed; indexSha256 receives the hash it was read with.
// Fails after a run-log line when a checked index is missing, differs from its signed hash or
// cannot be read, and without one when transferFailed says the transfer's own line follows.
std::optional<IndexedHashes>
readCheckedReleaseIndex(zip_t* archive, const std::string& url,
                        const std::optional<std::string>& requiredSha256, std::string& indexSha256,
                        const std::function<bool()>& transferFailed);
