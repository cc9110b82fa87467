#pragma once
#include <string>
#include <vector>

// Whether names (archive paths, "/"-separated) unpack to as many files on a player's disk: the
// launcher refuses an archive in which two names are the same, or differ only in letter case or
// Unicode normalization. False with problem naming the first such pair.
bool archiveNamesStayApart(const std::vector<std::string>& names, std::string& problem);

// Whether the file at path begins like a ZIP archive rather than a manifest.
bool looksLikeZipArchive(const std::string& path);

// lint for a ZIP archive: reports every pair of entries that the launcher refuses as one file
// on a player's disk (the first for each name). Exit status as lint's.
int lintArchive(const std::string& path, bool quiet);
