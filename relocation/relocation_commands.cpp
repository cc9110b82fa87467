#include "relocation/relocation_commands.h"

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string quarantineCommand(const std::string& quotedDestination, bool recursive) {
    return std::string(recursive ? "/usr/bin/xattr -d -r com.apple.quarantine "
                                 : "/usr/bin/xattr -d com.apple.quarantine ") +
           quotedDestination;
}

std::string relaunchScript(int pid, const std::optional<std::string>& quarantine,
                           const std::string& openCommand) {
    const std::string quarantineStep = quarantine ? *quarantine + "; " : std::string();
    return "(while /bin/kill -0 " + std::to_string(pid) +
           " >&/dev/null; do /bin/sleep 0.1; done; " + quarantineStep + openCommand + ") &";
}

std::string detachScript(const std::string& quotedDevice) {
    return "(/bin/sleep 5 && /usr/bin/hdiutil detach " + quotedDevice + ") &";
}

std::string runningCopyTest(const std::string& quotedStandardizedPath) {
    return "/bin/ps ax -o comm | /usr/bin/grep " + quotedStandardizedPath +
           "/ | /usr/bin/grep -v grep >/dev/null";
}

namespace {

std::string appleScriptStringContents(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

} // namespace

std::string finderTrashScript(const std::string& path) {
    const std::string indent(40, ' ');
    return indent + "set theFile to POSIX file \"" + appleScriptStringContents(path) + "\" \n" +
           indent + "tell application \"Finder\" \n" + indent + "move theFile to trash \n" +
           indent + "end tell";
}
