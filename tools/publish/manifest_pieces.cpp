#include "tools/publish/manifest_pieces.h"

#include "tools/publish/manifest_analysis.h"

#include <algorithm>
#include <cctype>

bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string_view stripRight(std::string_view s) {
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view stripLeft(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::size_t findCharsOrComment(std::string_view s, std::string_view chars) {
    bool afterBlank = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (chars.find(s[i]) != std::string_view::npos || (afterBlank && s[i] == ';')) {
            return i;
        }
        afterBlank = isBlank(s[i]);
    }
    return s.size();
}

std::vector<Piece> splitIntoPieces(const std::string& text) {
    std::vector<Piece> pieces;
    std::size_t line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t newline = text.find('\n', at);
        const std::size_t lineEnd = newline == std::string::npos ? text.size() : newline + 1;
        const std::size_t length = std::min(lineEnd - at, kLinePieceBytes);
        pieces.push_back({text.substr(at, length), line});
        at += length;
        if (at == lineEnd && newline != std::string::npos) {
            ++line;
        }
    }
    return pieces;
}
