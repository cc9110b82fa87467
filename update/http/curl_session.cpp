#include "update/http/curl_session.h"

long transferStallSeconds = 60;
long connectTimeoutSeconds = 30;
long manifestTimeLimitSeconds = 60;
long archiveLowSpeedBytesPerSecond = 1024;

CurlSession::CurlSession(TransferKind kind) {
    curl_global_init(CURL_GLOBAL_ALL);
    easy.reset(curl_easy_init());
    if (easy) {
        applyTransferOptions(easy.get(), kind);
    }
}

CurlSession::~CurlSession() {
    easy.reset();
    curl_global_cleanup();
}

void applyTransferOptions(CURL* easy, TransferKind kind) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, transferStallSeconds);
    if (kind == TransferKind::Manifest) {
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, manifestTimeLimitSeconds);
        return;
    }
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "libcurl-agent/1.0");
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, archiveLowSpeedBytesPerSecond);
}
