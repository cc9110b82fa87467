#pragma once
#include <curl/curl.h>
#include <string>

// What the answer to a range request says about itself, read from the handle that received it.

// A header of the answer, empty when it has none.
std::string answerHeader(CURL* easy, const char* name);

// What If-Range can name this version of the file by: a strong ETag (a weak one never matches
// there), else Last-Modified. Empty when the answer has neither.
std::string answerValidator(CURL* easy);

// Why a 206 answer does not carry the plain bytes of one range, worded to follow "the server
// answered a range request "; empty when nothing in its headers says so.
std::string partialAnswerProblem(CURL* easy);
