#pragma once
#include <string>

// The executable that starting this application runs: X.app runs
// X.app/Contents/MacOS/<CFBundleExecutable>, else Contents/MacOS/<X>; a path that is itself an
// executable file runs as it is. Empty when there is nothing to run.
std::string applicationExecutablePath(const std::string& application);

// What a running program at executable is called: the enclosing bundle's CFBundleDisplayName,
// else CFBundleName, else the bundle's name without ".app". Empty outside a bundle.
std::string bundleDisplayName(const std::string& bundle);

// The X.app that holds executable in X.app/Contents/MacOS/, else empty.
std::string bundleContainingExecutable(const std::string& executable);
