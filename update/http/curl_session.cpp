#include "update/http/curl_session.h"

long transferStallSeconds = 60;
long connectTimeoutSeconds = 30;
long manifestTimeLimitSeconds = 60;
long archiveLowSpeedBytesPerSecond = 1024;

CurlSession::CurlSession(TransferKind kind, const TransferSettings& settings) {
    curl_global_init(CURL_GLOBAL_ALL);
    easy.reset(curl_easy_init());
    if (easy) {
        applyTransferOptions(easy.get(), kind, settings);
    }
}

CurlSession::~CurlSession() {
    easy.reset();
    curl_global_cleanup();
}

void applyTransferOptions(CURL* easy, TransferKind kind, const TransferSettings& settings) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Launchers already shipped accept any certificate chain; a studio turns the check on in its
    // config.plist, and the chain must then lead to the system's store. The name in the
    // certificate is checked against the host either way (libcurl's default, stated here).
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, settings.verifyServerCertificates ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
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
