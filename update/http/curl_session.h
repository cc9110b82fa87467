#pragma once
#include <curl/curl.h>
#include <memory>

// What a transfer fetches. The two get the same options except where they differ: the manifest
// follows redirects and has a time limit for the whole transfer; archives carry the user agent
// and must keep a minimum rate.
enum class TransferKind { Manifest, Archive };

// The launcher's settings that shape every transfer, handed down by whoever starts one (update/
// never reads the settings itself).
struct TransferSettings {
    // verifyServerCertificates: when true, an HTTPS server's certificate chain must verify
    // against the system's certificate store, or the transfer fails with libcurl's text. Off, as
    // compiled in, any chain is accepted. The name in the certificate must match the host
    // either way.
    bool verifyServerCertificates = false;
    // How many range requests of a content archive may be in flight at once (0 and 1: one).
    int contentConnections = 1;
};

// One transfer's libcurl lifetime: the global set-up and clean-up pair around one easy handle,
// torn down in that order (handle first). The handle comes with the launcher's transfer options
// for its kind and settings (applyTransferOptions); the caller adds the URL and where the bytes go.
struct CurlSession {
    CurlSession(TransferKind kind, const TransferSettings& settings);
    ~CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    // None when libcurl could not make one.
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

// The one place the launcher's transfer options are set. Every transfer: HTTP and HTTPS only
// (redirects included), so that a URL can never read local files or talk to other local
// services; the server's certificate chain is verified against the system's store only when
// settings say so; connectTimeoutSeconds to connect.
// Manifest: redirects followed, aborted below 1 byte per second for transferStallSeconds or
// after manifestTimeLimitSeconds. Archive: the user agent "libcurl-agent/1.0", redirects not
// followed, aborted below archiveLowSpeedBytesPerSecond for transferStallSeconds.
void applyTransferOptions(CURL* easy, TransferKind kind, const TransferSettings& settings);
