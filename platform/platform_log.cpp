#include "platform/platform_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <unistd.h>

extern char* program_invocation_short_name;

void platformLog(const std::string& message) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s.%03lld %s[%d] %s\n", stamp, static_cast<long long>(millis),
                 program_invocation_short_name, static_cast<int>(getpid()), message.c_str());
    std::fflush(stderr);
}
