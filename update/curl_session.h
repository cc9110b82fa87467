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

// A server that accepts and then goes quiet would otherwise hold the launcher forever: abort a
// transfer that moves less than 1 byte per second for this many seconds.
extern long transferStallSeconds;
void applyStallLimit(CURL* easy);
