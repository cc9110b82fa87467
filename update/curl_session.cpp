#include "update/curl_session.h"

long transferStallSeconds = 60;

CurlSession::CurlSession() {
    curl_global_init(CURL_GLOBAL_ALL);
    easy.reset(curl_easy_init());
}

CurlSession::~CurlSession() {
    easy.reset();
    curl_global_cleanup();
}

void applyStallLimit(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, transferStallSeconds);
}
