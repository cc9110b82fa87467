#include "update/http/range_answer.h"

std::string answerHeader(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return {};
    }
    return header->value;
}

std::string answerValidator(CURL* easy) {
    const std::string tag = answerHeader(easy, "ETag");
    if (!tag.empty() && !tag.starts_with("W/")) {
        return tag;
    }
    return answerHeader(easy, "Last-Modified");
}

std::string partialAnswerProblem(CURL* easy) {
    const std::string encoding = answerHeader(easy, "Content-Encoding");
    if (!encoding.empty() && encoding != "identity") {
        // libcurl decodes nothing it did not ask for: the bytes would reach the unpacker encoded.
        return "in Content-Encoding " + encoding + ", which the launcher did not ask for";
    }
    const std::string type = answerHeader(easy, "Content-Type");
    if (type.starts_with("multipart/")) {
        return "with a multipart answer (" + type + ") instead of the one range asked for";
    }
    return {};
}
