#pragma once
#include <string>
#include <vector>

// Path tests the relocation decides by; all of them work on the text of the path.

// The folder holding path (the text before its last component).
std::string parentFolder(const std::string& path);
std::string lastPathComponent(const std::string& path);
// Whether the last component has the extension "app" (".app" alone is a hidden name, not one).
bool hasAppExtension(const std::string& path);
// Whether a folder above bundlePath is itself an application bundle.
bool bundleIsNested(const std::string& bundlePath);
// bundlePath begins with one of folders (plain text prefix), or has a component "Applications".
bool isInApplicationsFolder(const std::string& bundlePath, const std::vector<std::string>& folders);
// Repeated "/", "." and ".." folded away and no trailing "/", without looking at the disk.
std::string standardizedPath(const std::string& path);
