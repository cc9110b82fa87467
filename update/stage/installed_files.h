#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

// The launcher's record of the files and links it installed, at the top of the data folder: what
// each looked like once in place and the hash it was verified with. It says which files a later
// release drops, and which installed files need not be read again to know they are unchanged.

struct InstalledFile {
    std::string path; // below the data folder, components joined with "/"
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::uint64_t inode = 0;
    mode_t mode = 0;  // type and permission bits
    std::string hash; // sha256Label or crc32Label
};

using InstalledFiles = std::map<std::string, InstalledFile>; // by path

// A hash as recorded: the SHA-256 of the release index, or only the archive's CRC-32. The
// prefixes keep the two apart.
std::string sha256Label(const std::string& hex);
std::string crc32Label(std::uint32_t crc);

// The record in the data folder; none when there is none or it is not one this launcher wrote
// (an install made before it, or a damaged record): then nothing is removed and everything is
// hashed.
std::optional<InstalledFiles> readInstalledFiles(int dataFolder);
bool writeInstalledFiles(int dataFolder, const InstalledFiles& files);
// The record's whole text, as writeInstalledFiles writes it.
std::string installedFilesText(const InstalledFiles& files);

// The record's text and its reading, shared with the commit journal.
std::vector<std::string> installedFileFields(const InstalledFile& file);
std::optional<InstalledFile> installedFileFromFields(const std::vector<std::string>& fields,
                                                     std::size_t first);
constexpr std::size_t installedFileFieldCount = 6;

// What stands at path below root now (a link is described, never followed); none when nothing
// or a folder stands there.
std::optional<InstalledFile> describeInstalledFile(int root, const std::string& path,
                                                   const std::string& hash);

// Whether what stands at path is still the very file that was recorded: same size, time,
// inode and type and permissions. Then it holds what was verified, unless a program changed it
// and put its time back.
bool stillAsInstalled(int root, const InstalledFile& recorded);

// Whether the record holds path as still the very file it recorded (stillAsInstalled) with a
// SHA-256 other than sha256 (hex; none given: false): the file then differs from it without
// being read, which for a big file saves reading it whole.
bool recordedWithOtherSha256(const InstalledFiles* recorded, int root, const std::string& path,
                             const std::string& sha256);

// The components of a recorded path.
std::vector<std::string> pathComponents(const std::string& path);
