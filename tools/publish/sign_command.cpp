// sign: (re)signs a manifest, so that a publisher can edit it by hand and sign it again.
#include "tools/publish/commands.h"
#include "tools/publish/manifest_file.h"
#include "tools/publish/options.h"
#include "tools/publish/signing_keys.h"

#include <iostream>

namespace {

const char* const kHelp =
    "usage: launcher-publish sign --key FILE MANIFEST\n"
    "\n"
    "Signs MANIFEST in place with the Ed25519 private key in FILE (as made by keygen): every\n"
    "ManifestSignature line is removed and a new one, over all bytes before it, becomes the\n"
    "last line. Edit nothing after signing: any changed byte makes the launcher refuse it.\n"
    "\n"
    "options:\n"
    "  --key FILE   the private key (PEM)\n"
    "  -h, --help   show this help\n";

int runSign(const ParsedArguments& parsed) {
    std::string problem;
    if (parsed.positionals.size() != 1 || !parsed.has("--key")) {
        return reportError("sign", "give --key FILE and one manifest (see --help)", kUsageError);
    }
    const std::string& path = parsed.positionals.front();
    const SigningKey key = readPrivateKeyFile(parsed.value("--key"), problem);
    const auto text = key ? readManifestFile(path, problem) : std::nullopt;
    if (!text) {
        return reportError("sign", problem, kFailure);
    }
    const auto signedText = signManifestText(key.get(), *text);
    if (!signedText) {
        return reportError("sign", "libcrypto could not sign " + path, kFailure);
    }
    if (!writeFileAtomically(path, *signedText, problem)) {
        return reportError("sign", problem, kFailure);
    }
    std::cout << "signed " << path << "\n";
    return kSuccess;
}

} // namespace

const Command signCommand{{.valued = {"--key"}}, kHelp, runSign};
