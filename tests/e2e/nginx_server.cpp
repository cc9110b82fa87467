#include "tests/e2e/nginx_server.h"

#include "tests/support/child_process.h"

#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* nginxProgram = "/usr/sbin/nginx";
constexpr int startAttempts = 5;

struct Socket {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ~Socket() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port the kernel just handed out; another program may take it before nginx does, which the
// caller notices and answers with another attempt.
int unusedLoopbackPort() {
    Socket probe;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (probe.fd < 0 || bind(probe.fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(probe.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot find a free loopback port");
    }
    return ntohs(address.sin_port);
}

bool acceptsConnections(int port) {
    Socket client;
    const sockaddr_in address = loopback(port);
    return client.fd >= 0 &&
           connect(client.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

std::string quoted(const fs::path& path) {
    return "\"" + path.string() + "\"";
}

std::string configuration(const fs::path& work, const fs::path& served, int port, bool https,
                          const std::string& extra) {
    std::ostringstream text;
    text << "daemon off;\n"
         << "master_process off;\n"
         << "pid " << quoted(work / "nginx.pid") << ";\n"
         << "error_log " << quoted(work / "error.log") << " warn;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n"
         << "    types { application/zip zip; text/plain ini; }\n"
         << "    default_type application/octet-stream;\n"
         << "    log_format e2e '$request_method $uri $status \"$http_user_agent\" "
            "$body_bytes_sent';\n"
         << "    access_log " << quoted(work / "access.log") << " e2e;\n"
         << "    log_format ranges '$uri $http_range $connection $msec $request_time';\n"
         << "    access_log " << quoted(work / "ranges.log") << " ranges;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        text << "    " << kind << "_temp_path " << quoted(work / kind) << ";\n";
    }
    text << "    server {\n"
         << "        listen 127.0.0.1:" << port << (https ? " ssl" : "") << ";\n"
         << "        root " << quoted(served) << ";\n";
    if (https) {
        text << "        ssl_certificate " << quoted(work / "server.crt") << ";\n"
             << "        ssl_certificate_key " << quoted(work / "server.key") << ";\n";
    }
    text << extra << "\n    }\n}\n";
    return text.str();
}

// nginx ends with the test process, even when that is killed at its time limit.
pid_t startNginx(const fs::path& work) {
    const std::string prefix = work.string() + "/";
    const std::string config = (work / "nginx.conf").string();
    const std::string errors = (work / "error.log").string();
    std::vector<std::string> words{nginxProgram, "-p", prefix, "-c", config, "-e", errors};
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 0);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execv(nginxProgram, argv.data());
        _exit(127);
    }
    return child;
}

} // namespace

NginxServer::NginxServer(const fs::path& servedFolder, const Options& options)
    : secure(options.https) {
    if (secure) {
        makeCertificate();
    }
    for (int attempt = 0; attempt < startAttempts; ++attempt) {
        if (startOn(unusedLoopbackPort(), servedFolder, options)) {
            return;
        }
    }
    throw std::runtime_error("nginx did not start: " + readFile(work / "error.log"));
}

NginxServer::~NginxServer() {
    stop();
}

bool NginxServer::startOn(int port, const fs::path& servedFolder, const Options& options) {
    writeFile(work / "nginx.conf",
              configuration(work.path(), servedFolder, port, secure, options.extraDirectives));
    pid = startNginx(work.path());
    if (pid < 0) {
        throw std::runtime_error("cannot start nginx");
    }
    for (int i = 0; i < 500; ++i) {
        if (acceptsConnections(port)) {
            listenPort = port;
            return true;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1; // ended at once: most likely the port was taken meanwhile
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    return false;
}

void NginxServer::makeCertificate() const {
    const ChildResult made = runChild(
        "/usr/bin/openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
         "-keyout", (work / "server.key").string(), "-out", (work / "server.crt").string()});
    if (made.exitStatus != 0) {
        throw std::runtime_error("openssl req failed: " + made.standardError);
    }
}

void NginxServer::stop() {
    if (pid <= 0) {
        return;
    }
    kill(pid, SIGTERM);
    for (int i = 0; i < 250; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string NginxServer::url(const std::string& path) const {
    return std::string(secure ? "https" : "http") + "://127.0.0.1:" + std::to_string(listenPort) +
           path;
}

long long NginxServer::bytesSent(const std::string& path) const {
    long long total = 0;
    for (const std::string& line : requests()) {
        if (line.find(" " + path + " ") != std::string::npos) {
            total += std::stoll(line.substr(line.rfind(' ') + 1));
        }
    }
    return total;
}

std::vector<std::uint64_t> NginxServer::rangeStarts(const std::string& path) const {
    std::vector<std::uint64_t> starts;
    std::ifstream log(work / "ranges.log");
    const std::string prefix = path + " bytes=";
    for (std::string line; std::getline(log, line);) {
        if (line.starts_with(prefix) &&
            std::isdigit(static_cast<unsigned char>(line[prefix.size()]))) {
            starts.push_back(std::stoull(line.substr(prefix.size())));
        }
    }
    return starts;
}

std::vector<NginxServer::RangeRequest> NginxServer::rangeRequests(const std::string& path) const {
    std::vector<RangeRequest> requests;
    std::ifstream log(work / "ranges.log");
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        std::string uri;
        std::string range;
        RangeRequest request;
        double seconds = 0;
        if (fields >> uri >> range >> request.connection >> request.ended >> seconds &&
            uri == path && range.starts_with("bytes=")) {
            request.started = request.ended - seconds;
            requests.push_back(request);
        }
    }
    return requests;
}

std::vector<std::string> NginxServer::requests() const {
    std::vector<std::string> lines;
    std::ifstream log(work / "access.log");
    for (std::string line; std::getline(log, line);) {
        lines.push_back(line);
    }
    return lines;
}
