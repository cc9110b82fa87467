#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A manifest's text cut as the launcher's INI parser reads it: lines in pieces of at most
// kLinePieceBytes, blanks and comments where the parser sees them. lint reports a manifest's
// traps at the very lines the parser would trip on.

struct Piece {
    std::string text; // as the parser's reader hands it over, line end included
    std::size_t line; // line of the file it comes from
};

bool isBlank(char c);
std::string_view stripRight(std::string_view s);
std::string_view stripLeft(std::string_view s);
// Where the parser stops scanning: the first of chars, or a ";" right after white space.
std::size_t findCharsOrComment(std::string_view s, std::string_view chars);
std::vector<Piece> splitIntoPieces(const std::string& text);
