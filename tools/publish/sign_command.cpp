// sign: (re)signs a manifest, so that a publisher can edit it by hand and sign it again, or a
// scheduled job can keep it fresh with a new expiry.
#include "tools/publish/commands.h"
#include "tools/publish/expiry_options.h"
#include "tools/publish/manifest_file.h"
#include "tools/publish/manifest_signing.h"
#include "tools/publish/options.h"

#include <iostream>

namespace {

const char* const kHelp =
    "usage: launcher-publish sign --sign-with FILE [--sign-with FILE ...]\n"
    "                             [--expires-in N{s,m,h,d} | --expires-at TIME | --add]\n"
    "                             MANIFEST\n"
    "\n"
    "Signs MANIFEST in place with the Ed25519 private key in each FILE (as made by keygen):\n"
    "every ManifestSignature line is removed, and one new line per key, each over all bytes\n"
    "before the first of them, ends the manifest. Everything else, ManifestSerial included,\n"
    "stays as it is, so a scheduled job can sign the same release again every day with a new\n"
    "expiry. Edit nothing after signing: any changed byte makes the launcher refuse it.\n"
    "\n"
    "options:\n"
    "  --sign-with FILE      a private key (PEM); give it once per key that is to sign\n"
    "                        (--key FILE is the same)\n"
    "  --expires-in N{s,m,h,d}\n"
    "                        replace ManifestExpires with the time N seconds, minutes, hours\n"
    "                        or days from now (such as 7d)\n"
    "  --expires-at TIME     replace ManifestExpires with TIME, a UTC time written as\n"
    "                        YYYY-MM-DDTHH:MM:SSZ\n"
    "  --add                 keep the signatures already there and add these keys' ones\n"
    "  -h, --help            show this help\n"
    "\n"
    "Without an expiry option an existing ManifestExpires line stays as it is.\n"
    "\n"
    "With --add, the signatures already there stay, and each key adds one over the same\n"
    "bytes: two people, or two machines, each add their own for a launcher whose\n"
    "releaseSigningThreshold is 2. A key that has signed the manifest already is refused,\n"
    "and so are the expiry options, which would change the signed text.\n";

std::optional<std::string> resigned(const std::vector<SigningKey>& keys, const std::string& text,
                                    const std::optional<std::string>& expires,
                                    std::string& problem) {
    const auto unsignedText = unsignedManifestText(text, expires, problem);
    return unsignedText ? signedManifestText(keys, *unsignedText, problem) : std::nullopt;
}

int runSign(const ParsedArguments& parsed) {
    std::string problem;
    std::vector<std::string> keyFiles;
    for (const char* option : {"--key", "--sign-with"}) {
        const auto found = parsed.lists.find(option);
        if (found != parsed.lists.end()) {
            keyFiles.insert(keyFiles.end(), found->second.begin(), found->second.end());
        }
    }
    if (parsed.positionals.size() != 1 || keyFiles.empty()) {
        return reportError("sign", "give --sign-with FILE and one manifest (see --help)",
                           kUsageError);
    }
    const UtcSeconds now = utcNow();
    std::optional<std::string> expires;
    if (!readExpiryOptions(parsed, now, expires, problem)) {
        return reportError("sign", problem + " (see --help)", kUsageError);
    }
    const bool add = parsed.hasSwitch("--add");
    if (add && expires) {
        return reportError("sign",
                           "--add keeps the signed text as it is, so that the signatures there "
                           "stay good; an expiry option would change it: sign with every key "
                           "again instead",
                           kUsageError);
    }
    const std::string& path = parsed.positionals.front();
    const std::vector<SigningKey> keys = readSigningKeys(keyFiles, problem);
    const auto text = keys.empty() ? std::nullopt : readManifestFile(path, problem);
    const auto signedText = !text ? std::nullopt
                            : add ? withAddedSignatures(keys, *text, problem)
                                  : resigned(keys, *text, expires, problem);
    if (!signedText || !writeFileAtomically(path, *signedText, problem)) {
        return reportError("sign", problem, kFailure);
    }
    const std::string warning = expires ? expiredAlreadyWarning(*expires, now) : "";
    if (!warning.empty()) {
        std::cerr << "launcher-publish sign: " << warning << "\n";
    }
    std::cout << (add ? "added " + std::to_string(keys.size()) + " signature" +
                            (keys.size() == 1 ? "" : "s") + " to "
                      : "signed ")
              << path << (expires ? ", expiring at " + *expires : "") << "\n";
    return kSuccess;
}

} // namespace

const Command signCommand{{.valued = {kExpiresIn, kExpiresAt},
                           .repeated = {"--key", "--sign-with"},
                           .switches = {"--add"}},
                          kHelp,
                          runSign};
