#pragma once
#include <string>
#include <vector>

// The user's preferred languages, most preferred first (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
std::vector<std::string> preferredLanguages();
