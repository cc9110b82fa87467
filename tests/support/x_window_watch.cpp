#include "tests/support/x_window_watch.h"

#include <X11/Xlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <regex>
#include <stdexcept>

#ifndef SCREENSHOT_DIR
#define SCREENSHOT_DIR LAUNCHER_BINARY_DIR "/screenshots"
#endif

namespace {

std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    std::array<char, 4096> chunk{};
    while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe)) {
        output.append(chunk.data(), n);
    }
    pclose(pipe);
    return output;
}

} // namespace

XWindowWatch::XWindowWatch() {
    // The server may be busy answering the clients of tests that run alongside.
    Display* x = XOpenDisplay(nullptr);
    for (int i = 0; i < 100 && x == nullptr; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        x = XOpenDisplay(nullptr);
    }
    if (x == nullptr) {
        throw std::runtime_error("cannot open the X display");
    }
    display = x;
    XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
    XSync(x, False);
    reader = std::thread([this] { run(); });
}

XWindowWatch::~XWindowWatch() {
    stopping = true;
    reader.join();
    XCloseDisplay(static_cast<Display*>(display));
}

void XWindowWatch::run() {
    Display* x = static_cast<Display*>(display);
    pollfd connection{ConnectionNumber(x), POLLIN, 0};
    while (!stopping) {
        while (XPending(x) > 0) {
            XEvent event;
            XNextEvent(x, &event);
            std::lock_guard lock(mutex);
            if (event.type == CreateNotify) {
                const XCreateWindowEvent& e = event.xcreatewindow;
                recorded.push_back({e.window, e.width, e.height, true});
            } else if (event.type == DestroyNotify) {
                // The latest creation: a client that comes later may be given the same ids.
                const unsigned long window = event.xdestroywindow.window;
                for (auto earlier = recorded.rbegin(); earlier != recorded.rend(); ++earlier) {
                    if (earlier->window == window) {
                        if (earlier->created) {
                            recorded.push_back({window, earlier->width, earlier->height, false});
                        }
                        break;
                    }
                }
            }
        }
        poll(&connection, 1, 5);
    }
}

std::vector<XWindowWatch::Event> XWindowWatch::events() const {
    std::lock_guard lock(mutex);
    return recorded;
}

int XWindowWatch::createdOfSize(int width, int height) const {
    int count = 0;
    for (const Event& e : events()) {
        count += e.created && e.width == width && e.height == height;
    }
    return count;
}

int XWindowWatch::liveOfSize(int width, int height) const {
    int count = 0;
    for (const Event& e : events()) {
        if (e.width == width && e.height == height) {
            count += e.created ? 1 : -1;
        }
    }
    return count;
}

bool XWindowWatch::waitUntilNoneLive(int width, int height) const {
    for (int i = 0; i < 200 && liveOfSize(width, height) > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return liveOfSize(width, height) == 0;
}

int XWindowWatch::firstCreation(int width, int height) const {
    const auto all = events();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].created && all[i].width == width && all[i].height == height) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int XWindowWatch::firstDestruction(int width, int height) const {
    const auto all = events();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!all[i].created && all[i].width == width && all[i].height == height) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int XWindowWatch::lastDestruction(int width, int height) const {
    const auto all = events();
    for (std::size_t i = all.size(); i-- > 0;) {
        if (!all[i].created && all[i].width == width && all[i].height == height) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string xwininfoWindowOfSize(const std::string& title, int width, int height) {
    // A line reads: 0x200002 "title": ("class" "class")  300x250+0+0  +0+0
    const std::string tree = commandOutput("xwininfo -root -tree 2>/dev/null");
    const std::regex line("(0x[0-9a-f]+) \"([^\"]*)\".*\\s(\\d+)x(\\d+)[+-]");
    for (auto it = std::sregex_iterator(tree.begin(), tree.end(), line);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        if (m[2] == title && std::stoi(m[3]) == width && std::stoi(m[4]) == height) {
            return m[1];
        }
    }
    return "";
}

int xpropWindowPid(const std::string& windowId) {
    const std::string text = commandOutput("xprop -id " + windowId + " _NET_WM_PID 2>/dev/null");
    std::smatch m;
    const std::regex pid("= (\\d+)");
    return std::regex_search(text, m, pid) ? std::stoi(m[1]) : 0;
}

bool importWindowScreenshot(const std::string& windowId, const std::string& name) {
    std::filesystem::create_directories(SCREENSHOT_DIR);
    const std::string file = std::string(SCREENSHOT_DIR) + "/" + name + ".png";
    std::filesystem::remove(file);
    // import grabs the X server while it reads the window; one that hangs must not stall the
    // display for every other test.
    const std::string command =
        "timeout -s KILL 5 import -window " + windowId + " '" + file + "' 2>/dev/null";
    return std::system(command.c_str()) == 0 && std::filesystem::exists(file);
}
