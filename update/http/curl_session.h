#pragma once
#include <curl/curl.h>
#include <memory>

// One transfer's libcurl lifetime: the global set-up and clean-up pair around one easy handle,
// torn down in that order (handle first).
struct CurlSession {
    CurlSession();
    ~CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    CURL* handle() const { return easy.get(); }

  private:
    struct EasyCleanup {
        void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
    };
    std::unique_ptr<CURL, EasyCleanup> easy;
};

// The limits below are plain values so that tests can lower them in-process; nothing in a
// normal run changes them.

// A server that accepts and then goes quiet would otherwise hold the launcher forever: abort a
// transfer that stays below its rate for this many seconds.
extern long transferStallSeconds;
// Connecting, TLS handshake included, may take this long.
extern long connectTimeoutSeconds;
// The manifest is a small file: its whole transfer may take this long.
extern long manifestTimeLimitSeconds;
// Archives are large: one that crawls below this rate would keep the player waiting for hours.
extern long archiveLowSpeedBytesPerSecond;

// What every transfer gets: HTTP and HTTPS only (redirects included), so that a URL can never
// read local files or talk to other local services, and the connection time-out.
void applyTransferBasics(CURL* easy);
// Aborts a transfer that moves less than 1 byte per second for transferStallSeconds.
void applyStallLimit(CURL* easy);
// The manifest's limits: the stall limit and manifestTimeLimitSeconds for the whole transfer.
void applyManifestLimits(CURL* easy);
// The archives' limit: archiveLowSpeedBytesPerSecond over transferStallSeconds.
void applyArchiveLimits(CURL* easy);
