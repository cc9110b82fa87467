#pragma once
#include <string>

// Where the running launcher lives. An executable inside X.app/Contents/MacOS/ belongs to the
// bundle X.app; any other executable's folder serves as bundle and resource folder alike.
std::string executablePath();
std::string mainBundlePath();
std::string mainBundleResourcePath();
std::string bundlePathForExecutable(const std::string& executable);
std::string resourcePathForExecutable(const std::string& executable);
