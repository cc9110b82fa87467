#pragma once
#include <string>

// The platform's own log (standard error here): for messages that cannot go to the run log,
// because the run log does not exist yet or lives in the folder that failed.
void platformLog(const std::string& message);
