#pragma once
#include <httplib.h>

#include <chrono>
#include <string>

// Adds a GET route at path that answers with count bytes ("#"), one every interval and no
// length given beforehand: a server that keeps a transfer alive while it crawls.
void serveTrickle(httplib::Server& server, const std::string& path, const std::string& contentType,
                  int count, std::chrono::milliseconds interval);
