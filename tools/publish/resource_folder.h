#pragma once
#include <filesystem>
#include <string>

// bundle --resource with a folder: the folder goes whole into Contents/Resources, its symbolic
// links as links.

// Why folder cannot be copied into bundle as it is: a link that leads out of it (the player's
// copy would point at whatever lies there on their disk), something that is neither a file, a
// folder nor a link, or the bundle itself inside it. Empty when it can.
std::string resourceFolderProblem(const std::filesystem::path& folder,
                                  const std::filesystem::path& bundle);

// Copies folder into resources under its own name; links are made anew, never followed.
void copyResourceFolder(const std::filesystem::path& folder,
                        const std::filesystem::path& resources);
