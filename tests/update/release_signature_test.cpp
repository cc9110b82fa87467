// The signature checks in-process: strict base64, the last-line rule, the serial rule, and the
// manifest fetch that refuses before any value is used.
#include "tests/support/http_test_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_folder.h"
#include "tests/update/test_signing_key.h"
#include "update/archive_places.h"
#include "update/manifest_check.h"
#include "update/manifest_trust.h"
#include "update/release/base64_text.h"
#include "update/release/release_index.h"
#include "update/release/release_signature.h"
#include "update/release/sha256_stream.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

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

    bool logged(const std::string& message) const {
        return log.contents().find(":" + message + "\n") != std::string::npos;
    }
    fs::path record() const { return folder / "HighestManifestSerial"; }

    TempFolder folder;
    LogCapture log{folder.str()};
    TestKey key;
    ReleaseTrust trust{key.publicBase64(), folder.str()};
    CheckedManifest last;
};

std::string withSerial(int serial) {
    return "ApplicationVersion=2.0\nManifestSerial=" + std::to_string(serial) + "\n";
}

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
    // Nor is an expiry, or a serial recorded.
    EXPECT_EQ(fetch(body + "ManifestExpires=2001-01-01T00:00:00Z\n", info, raw), 0);
    EXPECT_FALSE(fs::exists(record()));
}

TEST_F(SignedFetch, TheHighestAcceptedSerialOutlivesTheInstalledRecord) {
    LatestVersionInfo info;
    std::string raw;
    // Accepted: recorded before anything is installed.
    ASSERT_EQ(fetch(key.sign(withSerial(4)), info, raw), 0);
    EXPECT_EQ(readFile(record()), "4\n");
    // No CurrentVersion.ini, as after an install that began and never finished: 3 is older.
    EXPECT_EQ(fetch(key.sign(withSerial(3)), info, raw), 1);
    EXPECT_EQ(last.failure, ManifestFailure::Refused);
    EXPECT_TRUE(logged("Manifest refused: ManifestSerial 3 is lower than the highest accepted "
                       "serial 4"))
        << log.contents();
    EXPECT_EQ(readFile(record()), "4\n");
    // The installed serial is checked first, with its own line.
    writeFile(folder / "CurrentVersion.ini", "ManifestSerial=4\n");
    EXPECT_EQ(fetch(key.sign(withSerial(3)), info, raw), 1);
    EXPECT_TRUE(logged("Manifest refused: ManifestSerial 3 is lower than the installed serial 4"));
    // The same serial again is taken and changes nothing.
    writeFile(folder / "CurrentVersion.ini", "ManifestSerial=2\n");
    EXPECT_EQ(fetch(key.sign(withSerial(4)), info, raw), 0);
    EXPECT_EQ(readFile(record()), "4\n");

    // A record without a serial locks no one out: the installed serial stands meanwhile, and the
    // next accepted manifest writes the record anew.
    writeFile(record(), "garbage");
    EXPECT_EQ(fetch(key.sign(withSerial(3)), info, raw), 0);
    EXPECT_TRUE(logged("The highest accepted serial is not known, going by the installed one: " +
                       record().string() + " holds no serial"))
        << log.contents();
    EXPECT_EQ(readFile(record()), "3\n");

    // A serial that cannot be recorded is not taken: unrecorded, it would reopen the way back.
    fs::create_directory(folder / "HighestManifestSerial.partial");
    EXPECT_EQ(fetch(key.sign(withSerial(5)), info, raw), 1);
    EXPECT_NE(log.contents().find(
                  ":Manifest refused: the highest accepted serial cannot be recorded: cannot "
                  "write " +
                  (folder / "HighestManifestSerial.partial").string()),
              std::string::npos)
        << log.contents();
    EXPECT_EQ(last.failure, ManifestFailure::Refused);
    EXPECT_EQ(readFile(record()), "3\n");
}

TEST_F(SignedFetch, AnExpiredManifestIsRefusedAsExpiredAndRecordsNothing) {
    writeFile(record(), "2\n");
    LatestVersionInfo info;
    info.ApplicationVersion = "1.0";
    std::string raw = "before";
    EXPECT_EQ(fetch(key.sign(body + "ManifestExpires=2001-01-01T00:00:00Z\n"), info, raw), 1);
    EXPECT_EQ(last.failure, ManifestFailure::Expired);
    EXPECT_TRUE(logged("Manifest refused: it expired at 2001-01-01T00:00:00Z")) << log.contents();
    EXPECT_EQ(info.ApplicationVersion, "1.0");
    EXPECT_EQ(raw, "before");
    EXPECT_EQ(readFile(record()), "2\n");

    // Not a time: refused like any broken manifest, not as one that is merely old.
    EXPECT_EQ(fetch(key.sign(body + "ManifestExpires=soon\n"), info, raw), 1);
    EXPECT_EQ(last.failure, ManifestFailure::Refused);
    EXPECT_TRUE(logged("Manifest refused: ManifestExpires is not a UTC time: soon"));

    EXPECT_EQ(fetch(key.sign(body + "ManifestExpires=2999-01-01T00:00:00Z\n"), info, raw), 0);
    EXPECT_EQ(info.ApplicationVersion, "2.0");
    EXPECT_EQ(readFile(record()), "3\n");
}

TEST_F(SignedFetch, TheKeyListAndTheThresholdComeFromTheSettings) {
    const TestKey second;
    trust.publicKey = key.publicBase64() + ", " + second.publicBase64();
    trust.threshold = 2;
    LatestVersionInfo info;
    std::string raw;
    EXPECT_EQ(fetch(key.sign(body), info, raw), 1);
    EXPECT_TRUE(logged("Manifest refused: 1 of the 2 required signatures verify"))
        << log.contents();
    EXPECT_FALSE(fs::exists(record()));
    const std::string both = body + second.signatureLine(body) + key.signatureLine(body);
    EXPECT_EQ(fetch(both, info, raw), 0);
    EXPECT_EQ(raw, both);
}

// ApplicationDownloadMirrorUrls: the places of the content archive in order, what is left out
// with one line each, and a checking launcher taking only mirrors its signatures cover.
TEST_F(SignedFetch, ArchivePlacesAreTheDownloadUrlThenEachMirrorAnHttpUrlCovered) {
    const std::string primary = "http://x/g.zip";
    struct Case {
        std::string what;
        bool keyed;          // the launcher checks signatures
        std::string mirrors; // the manifest's value; none when empty
        std::string kept;    // mirrors known from an earlier manifest
        std::vector<std::string> places;
        std::vector<std::string> leftOut; // the run log's lines
    };
    const std::vector<Case> cases = {
        {"no key in the manifest", false, "", "", {primary}, {}},
        {"a good list, blanks between",
         false,
         "https://m1/g.zip \t http://m2/g.zip",
         "",
         {primary, "https://m1/g.zip", "http://m2/g.zip"},
         {}},
        {"other schemes, the primary again and a repeat left out",
         false,
         "ftp://m/g.zip file:///etc/passwd HTTPS://m3/g.zip " + primary +
             " http:// https://m1/g.zip https://m1/g.zip",
         "",
         {primary, "HTTPS://m3/g.zip", "https://m1/g.zip"},
         {"\"ftp://m/g.zip\": not an http:// or https:// URL",
          "\"file:///etc/passwd\": not an http:// or https:// URL",
          "\"" + primary + "\": the same as ApplicationDownloadUrl",
          "\"http://\": not an http:// or https:// URL",
          "\"https://m1/g.zip\": named before in the list"}},
        {"signed mirrors for a checking launcher",
         true,
         "https://m1/g.zip",
         "",
         {primary, "https://m1/g.zip"},
         {}},
        {"mirrors the signature does not cover are no places",
         true,
         "",
         "https://old/g.zip",
         {primary},
         {}},
        {"without a key the kept value stands, as every key's does",
         false,
         "",
         "https://old/g.zip",
         {primary, "https://old/g.zip"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        trust.publicKey = c.keyed ? key.publicBase64() : "";
        const std::string text =
            body + (c.mirrors.empty() ? "" : "ApplicationDownloadMirrorUrls=" + c.mirrors + "\n");
        LatestVersionInfo info;
        info.ApplicationDownloadMirrorUrls = c.kept;
        std::string raw;
        const std::size_t logBefore = log.contents().size();
        ASSERT_EQ(fetch(c.keyed ? key.sign(text) : text, info, raw), 0) << log.contents();
        EXPECT_EQ(archivePlaces(last), c.places);
        const std::string lines = log.contents().substr(logBefore);
        for (const std::string& leftOut : c.leftOut) {
            EXPECT_NE(lines.find(":ApplicationDownloadMirrorUrls: leaving out " + leftOut + "\n"),
                      std::string::npos)
                << leftOut << "\n"
                << lines;
        }
        std::size_t leavingOut = 0;
        for (std::size_t at = lines.find("leaving out"); at != std::string::npos;
             at = lines.find("leaving out", at + 1)) {
            ++leavingOut;
        }
        EXPECT_EQ(leavingOut, c.leftOut.size()) << lines;
    }
}

TEST_F(SignedFetch, TheRolloutOfAnAcceptedManifestOnlyAndFromTheSignedText) {
    struct Case {
        std::string manifest;
        bool checkingLauncher;
        bool accepted;
        int percent;
    };
    const std::string signedTen = key.sign(body + "RolloutPercent=10\n");
    const Case cases[] = {
        {signedTen, true, true, 10},
        {key.sign(body), true, true, 100},
        {key.sign(body + "RolloutPercent=5O\n"), true, true, 0},
        // Raised after signing: the manifest is refused, so no value of it counts.
        {signedTen + "RolloutPercent=100\n", true, false, 100},
        {body + "RolloutPercent=10\n", true, false, 100},
        // A launcher without a key reads the whole text.
        {body + "RolloutPercent=10\n", false, true, 10},
        {signedTen, false, true, 10},
    };
    for (const Case& c : cases) {
        trust.publicKey = c.checkingLauncher ? key.publicBase64() : "";
        LatestVersionInfo info;
        std::string raw;
        fetch(c.manifest, info, raw);
        EXPECT_EQ(last.failure == ManifestFailure::None, c.accepted) << c.manifest;
        EXPECT_EQ(last.signatureChecked, c.checkingLauncher && c.accepted) << c.manifest;
        EXPECT_EQ(manifestRollout(last).percent, c.percent) << c.manifest;
    }
}
