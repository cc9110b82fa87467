#include "update/http/curl_session.h"

long transferStallSeconds = 60;
long connectTimeoutSeconds = 30;
long manifestTimeLimitSeconds = 60;
long archiveLowSpeedBytesPerSecond = 1024;

CurlSession::CurlSession() {
    curl_global_init(CURL_GLOBAL_ALL);
    easy.reset(curl_easy_init());
}

CurlSession::~CurlSession() {
    easy.reset();
    curl_global_cleanup();
}

void applyTransferBasics(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
}

void applyStallLimit(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, transferStallSeconds);
}

void applyManifestLimits(CURL* easy) {
    applyStallLimit(easy);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, manifestTimeLimitSeconds);
}

void applyArchiveLimits(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, archiveLowSpeedBytesPerSecond);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, transferStallSeconds);
}
