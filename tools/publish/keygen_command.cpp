// keygen: makes the publisher's release signing key.
#include "tools/publish/commands.h"
#include "tools/publish/options.h"
#include "tools/publish/signing_keys.h"

#include <iostream>

namespace {

const char* const kHelp =
    "usage: launcher-publish keygen --output FILE\n"
    "\n"
    "Makes a new Ed25519 release signing key. The private key is written as PEM into FILE\n"
    "(mode 0600; an existing file is never overwritten): keep it off the web server. The\n"
    "public key is printed in the form config.plist takes as releaseSigningPublicKey.\n"
    "\n"
    "options:\n"
    "  --output FILE   the private key file to create\n"
    "  -h, --help      show this help\n";

int runKeygen(const ParsedArguments& parsed) {
    std::string problem;
    if (!parsed.positionals.empty() || !parsed.has("--output") ||
        parsed.value("--output").empty()) {
        return reportError("keygen", "give --output FILE and nothing else (see --help)",
                           kUsageError);
    }
    const SigningKey key = generateSigningKey(problem);
    if (!key || !writePrivateKeyFile(key.get(), parsed.value("--output"), problem)) {
        return reportError("keygen", problem, kFailure);
    }
    std::cout << publicKeyBase64(key.get()) << "\n";
    return kSuccess;
}

} // namespace

const Command keygenCommand{{.valued = {"--output"}}, kHelp, runKeygen};
