#pragma once
#include <optional>
#include <string>
#include <string_view>

// Standard base64 with padding, through libcrypto. Decoding is strict: only the alphabet, a
// length that is a multiple of 4 and at most two "=" at the end; no white space anywhere.
std::optional<std::string> decodeBase64(std::string_view text);
std::string encodeBase64(std::string_view bytes);
