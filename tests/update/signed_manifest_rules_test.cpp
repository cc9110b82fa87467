// The rules a checking launcher applies beyond one signature, in-process: expiry, several
// signatures at the end of the manifest, several trusted keys with a threshold, and the record of
// the highest serial ever accepted.
#include "tests/support/temp_folder.h"
#include "tests/update/test_signing_key.h"
#include "update/release/highest_serial_record.h"
#include "update/unpack/launcher_records.h"
#include "update/release/manifest_expiry.h"
#include "update/release/release_signature.h"
#include "update/release/signature_threshold.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const std::string body = "ApplicationVersion=2.0\nApplicationDownloadUrl=http://x/g.zip\n"
                         "ManifestSerial=3\n";

UtcSeconds at(const std::string& text) {
    return *parseUtcTime(text);
}

// The first failed check's detail at now, against keys (comma-separated) and threshold.
std::string refusal(const std::string& text, const std::string& keys, std::int32_t threshold = 0,
                    UtcSeconds now = at("2030-06-01T12:00:00Z")) {
    ManifestCheckContext context;
    context.publicKeys = keys;
    context.threshold = threshold;
    context.now = now;
    for (const auto& check : checkSignedManifest(text, context)) {
        if (!check.passed) {
            return check.detail;
        }
    }
    return "";
}

// body signed by each of signers, every signature over body alone.
std::string signedBy(const std::vector<const TestKey*>& signers, const std::string& text = body) {
    std::string manifest = text;
    for (const TestKey* signer : signers) {
        manifest += signer->signatureLine(text);
    }
    return manifest;
}

} // namespace

TEST(ManifestExpiry, ReadsOnlyTheOneUtcForm) {
    EXPECT_EQ(formatUtcTime(at("2030-06-01T12:34:56Z")), "2030-06-01T12:34:56Z");
    EXPECT_EQ(at("1970-01-02T00:00:00Z").time_since_epoch(), std::chrono::days(1));
    EXPECT_TRUE(parseUtcTime("2028-02-29T23:59:59Z"));
    for (const char* bad :
         {"2030-06-01", "2030-06-01T12:00:00", "2030-06-01 12:00:00Z", "2030-06-01t12:00:00z",
          "2030-06-01T12:00:00+00:00", "2030-6-01T12:00:00Z", " 2030-06-01T12:00:00Z",
          "2030-06-01T12:00:00Z ", "2030-02-30T00:00:00Z", "2100-02-29T00:00:00Z",
          "2030-13-01T00:00:00Z", "2030-00-01T00:00:00Z", "2030-06-01T24:00:00Z",
          "2030-06-01T12:60:00Z", "2030-06-01T12:00:60Z", "+030-06-01T12:00:00Z", ""}) {
        EXPECT_FALSE(parseUtcTime(bad)) << bad;
    }
}

TEST(ManifestExpiry, RefusesFromTheSecondItNamesAndOnlyFromSignedBytes) {
    const TestKey key;
    const std::string k = key.publicBase64();
    const UtcSeconds now = at("2030-06-01T12:00:00Z");
    const auto expiring = [&](const std::string& value) {
        return key.sign(body + "ManifestExpires=" + value + "\n");
    };
    EXPECT_EQ(refusal(expiring("2030-06-01T12:00:01Z"), k, 0, now), "");
    EXPECT_EQ(refusal(expiring("2030-06-01T12:00:00Z"), k, 0, now),
              "it expired at 2030-06-01T12:00:00Z");
    EXPECT_EQ(refusal(expiring("2001-01-01T00:00:00Z"), k, 0, now),
              "it expired at 2001-01-01T00:00:00Z");
    // The value as written, also when it is no time at all.
    EXPECT_EQ(refusal(expiring("2030-07-01"), k, 0, now),
              "ManifestExpires is not a UTC time: 2030-07-01");
    EXPECT_EQ(refusal(expiring(""), k, 0, now), "ManifestExpires is not a UTC time: ");
    // Absent, or under a section where the launcher reads no key: never expires.
    EXPECT_EQ(refusal(key.sign(body), k, 0, now), "");
    EXPECT_EQ(
        refusal(key.sign(body + "[notes]\nManifestExpires=2001-01-01T00:00:00Z\n"), k, 0, now), "");
    // The last of a repeated key counts, as with every manifest key.
    EXPECT_EQ(refusal(key.sign(body + "ManifestExpires=2001-01-01T00:00:00Z\n"
                                      "ManifestExpires=2031-01-01T00:00:00Z\n"),
                      k, 0, now),
              "");
    // A changed expiry breaks the signature: it lies inside the signed text.
    std::string moved = expiring("2030-06-02T00:00:00Z");
    moved.replace(moved.find("2030-06-02"), 10, "2031-06-02");
    EXPECT_EQ(refusal(moved, k, 0, now), "the signature does not verify with "
                                         "releaseSigningPublicKey");
}

TEST(SignatureBlock, EverySignatureLineAtTheEndSignsTheBytesBeforeTheFirst) {
    const TestKey first;
    const TestKey second;
    const std::string keys = first.publicBase64() + "," + second.publicBase64();
    EXPECT_EQ(refusal(signedBy({&first, &second}), keys, 2), "");
    EXPECT_EQ(refusal(signedBy({&second, &first}), keys, 2), "");
    // One trusted key: its signature counts in either place.
    EXPECT_EQ(refusal(signedBy({&first, &second}), first.publicBase64()), "");
    EXPECT_EQ(refusal(signedBy({&second, &first}), first.publicBase64()), "");
    // CR LF line ends, and no line end after the last signature.
    const std::string crlf = "ApplicationVersion=2.0\r\nManifestSerial=1\r\n";
    std::string both = crlf + first.signatureLine(crlf) + second.signatureLine(crlf);
    both.pop_back();
    EXPECT_EQ(refusal(both, keys, 2), "");

    // A second signature over the bytes before itself (the first signature included) is not one.
    const std::string firstSigned = first.sign(body);
    EXPECT_EQ(refusal(firstSigned + second.signatureLine(firstSigned), keys, 2),
              "1 of the 2 required signatures verify");
    // A blank line ends the closing lines: what comes above it is signed text.
    EXPECT_EQ(
        refusal(body + first.signatureLine(body) + "\n" + second.signatureLine(body), keys, 2),
        "0 of the 2 required signatures verify");
    // One broken line among them refuses the manifest, as one broken line always has.
    EXPECT_EQ(refusal(signedBy({&first}) + "ManifestSignature=abc\n", keys),
              "ManifestSignature is not base64 of 64 bytes");
}

TEST(SignatureBlock, ASignatureLineBetweenOtherLinesIsSignedTextNotASignature) {
    const TestKey key;
    const std::string k = key.publicBase64();
    const std::string top = "ApplicationVersion=2.0\nManifestSerial=3\n";
    const std::string more = "LauncherVersion=1.0\n";
    // A valid signature, but lines follow it.
    EXPECT_EQ(refusal(top + key.signatureLine(top) + more, k),
              "the last line is not a ManifestSignature line");
    // Those lines signed once more at the end: the inner line is just part of what is signed.
    const std::string inner = top + key.signatureLine(top) + more;
    EXPECT_EQ(refusal(inner + key.signatureLine(inner), k), "");
    EXPECT_EQ(splitAtSignatureBlock(inner + key.signatureLine(inner)).signedBytes, inner);
    // The inner line does not count towards a threshold.
    const TestKey other;
    EXPECT_EQ(refusal(inner + other.signatureLine(inner), k + "," + other.publicBase64(), 2),
              "1 of the 2 required signatures verify");
}

TEST(SignatureThreshold, CountsDifferentTrustedKeysWithAVerifyingSignature) {
    const TestKey a;
    const TestKey b;
    const TestKey c;
    const TestKey stranger;
    const std::string A = a.publicBase64();
    const std::string B = b.publicBase64();
    const std::string C = c.publicBase64();
    struct Case {
        std::string keys;
        std::int32_t threshold;
        std::vector<const TestKey*> signers;
        std::string refusal;
    };
    const std::vector<Case> cases = {
        // Threshold 0 (compiled in), 1 and below all mean one.
        {A, 0, {&a}, ""},
        {A, 1, {&a}, ""},
        {A, -3, {&a}, ""},
        {A + "," + B, 1, {&b}, ""},
        {A + "," + B + "," + C, 1, {&c}, ""},
        {A + "," + B, 1, {&stranger}, "0 of the 1 required signatures verify"},
        {A, 0, {&stranger, &b}, "0 of the 1 required signatures verify"},
        // Two of them.
        {A, 2, {&a}, "1 of the 2 required signatures verify"},
        {A + "," + B, 2, {&a}, "1 of the 2 required signatures verify"},
        {A + "," + B, 2, {&a, &b}, ""},
        {A + "," + B + "," + C, 2, {&c, &a}, ""},
        {A + "," + B + "," + C, 2, {&b, &stranger}, "1 of the 2 required signatures verify"},
        {A + "," + B + "," + C, 2, {&a, &b, &c}, ""},
        // The same key twice in the list, or signing twice, is still one key.
        {A + "," + A, 2, {&a}, "1 of the 2 required signatures verify"},
        {A + ", " + A + "," + B, 2, {&a, &a}, "1 of the 2 required signatures verify"},
        {A + "," + B, 3, {&a, &b}, "2 of the 3 required signatures verify"},
        // Blanks and line breaks around the keys are no part of them.
        {" " + A + " ,\t" + B + "\n", 2, {&a, &b}, ""},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.keys + " threshold " + std::to_string(item.threshold));
        EXPECT_EQ(refusal(signedBy(item.signers), item.keys, item.threshold), item.refusal);
    }
    EXPECT_EQ(countSigningKeys({*decodePublicKey(A), *decodePublicKey(A)},
                               {*decodeBase64(a.signatureLine(body).substr(18, 88))}, body),
              1u);
}

TEST(SignatureThreshold, EveryEntryOfTheKeyListMustBeAKey) {
    const TestKey a;
    const std::string A = a.publicBase64();
    EXPECT_EQ(splitKeyList(" x , y,,z "), (std::vector<std::string>{"x", "y", "", "z"}));
    EXPECT_EQ(refusal(signedBy({&a}), A + ",,"),
              "releaseSigningPublicKey holds an entry that is not base64 of 32 bytes: \"\"");
    EXPECT_EQ(refusal(signedBy({&a}), A + ",AAAA"),
              "releaseSigningPublicKey holds an entry that is not base64 of 32 bytes: \"AAAA\"");
    EXPECT_EQ(refusal(signedBy({&a}), " , "),
              "releaseSigningPublicKey holds an entry that is not base64 of 32 bytes: \"\"");
    // One entry reads as before.
    EXPECT_EQ(refusal(signedBy({&a}), "AAAA"), "releaseSigningPublicKey is not base64 of 32 bytes");
    EXPECT_EQ(refusal(signedBy({&a}), " " + A + " "), "");
}

TEST(HighestSerialRecord, IsWrittenWholeReadBackAndReservedFromArchives) {
    TempFolder folder;
    std::string problem;
    EXPECT_EQ(readHighestSerial(folder.str(), problem), 0u);
    ASSERT_TRUE(writeHighestSerial(folder.str(), 18446744073709551615u, problem)) << problem;
    EXPECT_EQ(readHighestSerial(folder.str(), problem), 18446744073709551615u);
    ASSERT_TRUE(writeHighestSerial(folder.str(), 7, problem)) << problem;
    EXPECT_EQ(readFile(folder / "HighestManifestSerial"), "7\n");
    EXPECT_FALSE(fs::exists(folder / "HighestManifestSerial.partial"));

    for (const char* bad : {"", "seven\n", "7\n\n", "-7\n", "18446744073709551616\n"}) {
        writeFile(folder / "HighestManifestSerial", bad);
        EXPECT_FALSE(readHighestSerial(folder.str(), problem)) << bad;
        EXPECT_EQ(problem, (folder / "HighestManifestSerial").string() + " holds no serial");
    }
    // A link is never followed: nothing outside decides the serial.
    fs::remove(folder / "HighestManifestSerial");
    writeFile(folder / "elsewhere", "99\n");
    fs::create_symlink(folder / "elsewhere", folder / "HighestManifestSerial");
    EXPECT_FALSE(readHighestSerial(folder.str(), problem));

    // A write that cannot be made leaves the old record standing.
    fs::remove(folder / "HighestManifestSerial");
    ASSERT_TRUE(writeHighestSerial(folder.str(), 5, problem));
    fs::create_directory(folder / "HighestManifestSerial.partial");
    EXPECT_FALSE(writeHighestSerial(folder.str(), 6, problem));
    EXPECT_NE(problem.find("HighestManifestSerial.partial"), std::string::npos) << problem;
    EXPECT_EQ(readHighestSerial(folder.str(), problem), 5u);

    for (const char* name :
         {"HighestManifestSerial", "highestmanifestserial", "HighestManifestSerial.partial"}) {
        EXPECT_TRUE(isLauncherRecordName(name)) << name;
    }
    EXPECT_FALSE(isLauncherRecordName("HighestManifestSerial.txt"));
}
