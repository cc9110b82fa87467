// The signature checks in-process: strict base64, the last-line rule, the serial rule, and the
// manifest fetch that refuses before any value is used.
#include "tests/support/http_test_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"
#include "update/manifest_check.h"
#include "update/release/base64_text.h"
#include "update/release/release_index.h"
#include "update/release/release_signature.h"
#include "update/release/sha256_stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <openssl/evp.h>

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// A throw-away key pair, made with libcrypto as the publishing tool makes one.
struct TestKey {
    std::unique_ptr<EVP_PKEY, KeyFree> key{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")};

    std::string publicBase64() const {
        unsigned char raw[32];
        std::size_t length = sizeof raw;
        EVP_PKEY_get_raw_public_key(key.get(), raw, &length);
        return encodeBase64(std::string(reinterpret_cast<char*>(raw), length));
    }

    std::string signatureLine(const std::string& text) const {
        std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get());
        unsigned char signature[64];
        std::size_t length = sizeof signature;
        EVP_DigestSign(context.get(), signature, &length,
                       reinterpret_cast<const unsigned char*>(text.data()), text.size());
        return "ManifestSignature=" +
               encodeBase64(std::string(reinterpret_cast<char*>(signature), length)) + "\n";
    }

    std::string sign(const std::string& text) const { return text + signatureLine(text); }
};

const std::string body = "ApplicationVersion=2.0\nApplicationDownloadUrl=http://x/g.zip\n"
                         "ManifestSerial=3\n";

std::string firstFailure(const std::string& text, const std::string& key,
                         std::uint64_t installed = 0) {
    for (const auto& check : checkSignedManifest(text, key, installed)) {
        if (!check.passed) {
            return check.detail;
        }
    }
    return "";
}

} // namespace

TEST(Base64Text, DecodesOnlyThePlainPaddedForm) {
    EXPECT_EQ(decodeBase64("YWJj"), "abc");
    EXPECT_EQ(decodeBase64("YWI="), "ab");
    EXPECT_EQ(decodeBase64("YQ=="), "a");
    for (const char* bad : {"", "YWJ", "YW=j", "Y===", " YWJj", "YWJj\n", "YW*j", "YWJjYQ=\n"}) {
        EXPECT_FALSE(decodeBase64(bad)) << bad;
    }
    EXPECT_EQ(encodeBase64("ab"), "YWI=");
}

TEST(Sha256Stream, HashesPiecesLikeTheWhole) {
    Sha256Stream stream;
    stream.update("a", 1);
    stream.update("bc", 2);
    EXPECT_EQ(stream.finishHex(),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_TRUE(isSha256Hex(sha256Hex("")));
    EXPECT_FALSE(isSha256Hex(std::string(64, 'A')));
}

TEST(ReleaseSignature, AcceptsOnlyASignedLastLineOverEveryByteBeforeIt) {
    const TestKey key;
    const std::string good = key.sign(body);
    EXPECT_EQ(firstFailure(good, key.publicBase64()), "");
    // Without its final line end, and with CR LF line ends, the same rule holds.
    EXPECT_EQ(firstFailure(good.substr(0, good.size() - 1), key.publicBase64()), "");
    const std::string crlf = "ApplicationVersion=2.0\r\nManifestSerial=1\r\n";
    const std::string crlfSigned = crlf + key.signatureLine(crlf);
    EXPECT_EQ(
        firstFailure(crlfSigned.substr(0, crlfSigned.size() - 1) + "\r\n", key.publicBase64()), "");

    EXPECT_EQ(firstFailure(good + "\n", key.publicBase64()),
              "the last line is not a ManifestSignature line");
    EXPECT_EQ(firstFailure(good + "LauncherVersion=9\n", key.publicBase64()),
              "the last line is not a ManifestSignature line");
    // Indented, the line would continue the key above it when parsed.
    const std::size_t line = good.rfind("ManifestSignature");
    EXPECT_EQ(firstFailure(good.substr(0, line) + " " + good.substr(line), key.publicBase64()),
              "the last line is not a ManifestSignature line");
    EXPECT_EQ(firstFailure(body + "ManifestSignature=abc\n", key.publicBase64()),
              "ManifestSignature is not base64 of 64 bytes");
    EXPECT_EQ(firstFailure(TestKey().sign(body), key.publicBase64()),
              "the signature does not verify with releaseSigningPublicKey");
    EXPECT_EQ(firstFailure(good, "AAAA"), "releaseSigningPublicKey is not base64 of 32 bytes");
}

TEST(ReleaseSignature, TheSerialMustBeANumberNotBelowTheInstalledOne) {
    const TestKey key;
    const std::string k = key.publicBase64();
    EXPECT_EQ(firstFailure(key.sign(body), k, 3), "");
    EXPECT_EQ(firstFailure(key.sign(body), k, 4),
              "ManifestSerial 3 is lower than the installed serial 4");
    EXPECT_EQ(firstFailure(key.sign("ApplicationVersion=2.0\n"), k), "ManifestSerial is missing");
    EXPECT_EQ(firstFailure(key.sign("ManifestSerial=-1\n"), k),
              "ManifestSerial is not a decimal number: -1");
    // Read with the parser's rules: a serial under a section does not count.
    EXPECT_EQ(firstFailure(key.sign("[old]\nManifestSerial=9\n"), k), "ManifestSerial is missing");

    TempFolder folder;
    EXPECT_EQ(installedManifestSerial((folder / "CurrentVersion.ini").string()), 0u);
    writeFile(folder / "CurrentVersion.ini", "ApplicationVersion=1\nmanifestserial=12\n");
    EXPECT_EQ(installedManifestSerial((folder / "CurrentVersion.ini").string()), 12u);
}

TEST(ReleaseIndex, WritesSortedSha256sumLinesAndReadsThemBack) {
    const std::string hash(64, 'a');
    const std::vector<ReleaseIndexEntry> entries = {
        {"b.app/x", hash, false}, {"a.app/link", hash, true}, {"a.app/odd\\name", hash, false}};
    const std::string text = formatReleaseIndex(entries);
    EXPECT_EQ(text,
              hash + " @a.app/link\n\\" + hash + "  a.app/odd\\\\name\n" + hash + "  b.app/x\n");
    const auto back = parseReleaseIndex(text);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 3u);
    EXPECT_EQ((*back)[1].name, "a.app/odd\\name");
    EXPECT_TRUE((*back)[0].link);
    EXPECT_FALSE(parseReleaseIndex(hash + " *b\n"));
}

class SignedFetch : public testing::Test {
  protected:
    // Serves text and fetches it both ways: as the launcher's first form of the fetch (info and
    // raw, the status returned) and as the check the launcher's parts use now (kept in last).
    int fetch(const std::string& text, LatestVersionInfo& info, std::string& raw) {
        HttpTestServer server;
        server.server().Get("/LatestVersion.ini",
                            [text](const httplib::Request&, httplib::Response& response) {
                                response.set_content(text, "text/plain");
                            });
        server.start();
        last = fetchCheckedManifest(server.url("/LatestVersion.ini"), trust, info);
        return fetchLatestVersionInfo(info, server.url("/LatestVersion.ini"), &raw, trust);
    }

    TempFolder folder;
    LogCapture log{folder.str()};
    TestKey key;
    ReleaseTrust trust{key.publicBase64(), folder.str()};
    CheckedManifest last;
};

TEST_F(SignedFetch, ARefusedManifestLeavesTheRecordAndTheTextAsTheyWere) {
    LatestVersionInfo info;
    info.ApplicationVersion = "1.0";
    std::string raw = "before";
    EXPECT_EQ(fetch(TestKey().sign(body), info, raw), 1);
    EXPECT_EQ(last.failure, ManifestFailure::Refused);
    EXPECT_NE(
        log.contents().find(
            ":Manifest refused: the signature does not verify with releaseSigningPublicKey\n"),
        std::string::npos);
    EXPECT_EQ(info.ApplicationVersion, "1.0");
    EXPECT_EQ(raw, "before");

    writeFile(folder / "CurrentVersion.ini", "ManifestSerial=4\n");
    EXPECT_EQ(fetch(key.sign(body), info, raw), 1);
    EXPECT_EQ(info.ApplicationVersion, "1.0");

    writeFile(folder / "CurrentVersion.ini", "ManifestSerial=3\n");
    const std::string good = key.sign(body + "ApplicationSha256=" + std::string(64, 'b') + "\n");
    EXPECT_EQ(fetch(good, info, raw), 0);
    EXPECT_EQ(last.failure, ManifestFailure::None);
    EXPECT_EQ(info.ApplicationVersion, "2.0");
    EXPECT_EQ(raw, good);
    EXPECT_EQ(last.signedValues.ApplicationSha256, std::string(64, 'b'));
    EXPECT_EQ(requiredArchiveSha256(last, last.signedValues.ApplicationSha256),
              std::string(64, 'b'));
}

TEST_F(SignedFetch, WithoutAKeyNothingIsCheckedOrRequired) {
    trust.publicKey.clear();
    LatestVersionInfo info;
    std::string raw;
    EXPECT_EQ(fetch(body, info, raw), 0);
    EXPECT_EQ(info.ApplicationVersion, "2.0");
    EXPECT_FALSE(requiredArchiveSha256(last, ""));
}
