#pragma once
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
