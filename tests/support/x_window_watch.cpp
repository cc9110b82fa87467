#include "tests/support/x_window_watch.h"

#include <SDL.h>
#include <SDL_image.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

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

// A window that goes away while it is looked at makes the server answer with an error, which
// Xlib's own handler would end the test program for.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

// The first window below parent (depth first) whose WM_NAME is title, or 0.
Window windowTitled(Display* x, Window parent, const std::string& title, int depth) {
    Window root = 0;
    Window up = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (depth > 3 || XQueryTree(x, parent, &root, &up, &children, &count) == 0) {
        return 0;
    }
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        if (XFetchName(x, children[i], &name) != 0 && name != nullptr) {
            found = title == name ? children[i] : 0;
            XFree(name);
        }
        if (found == 0) {
            found = windowTitled(x, children[i], title, depth + 1);
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

// The channel of pixel that mask selects, scaled to 0..255.
std::uint32_t channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) {
        return 0;
    }
    int shift = 0;
    while (((mask >> shift) & 1) == 0) {
        ++shift;
    }
    const unsigned long top = mask >> shift;
    return static_cast<std::uint32_t>(((pixel & mask) >> shift) * 255 / top);
}

WindowPicture pictureOf(Display* x, Window window) {
    WindowPicture picture;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(x, window, &attributes) == 0 || attributes.map_state != IsViewable) {
        return picture;
    }
    XImage* image = XGetImage(x, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return picture;
    }
    picture.width = attributes.width;
    picture.height = attributes.height;
    picture.pixels.reserve(static_cast<std::size_t>(picture.width) * picture.height);
    for (int row = 0; row < picture.height; ++row) {
        for (int column = 0; column < picture.width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row);
            picture.pixels.push_back(channel(pixel, image->red_mask) << 16 |
                                     channel(pixel, image->green_mask) << 8 |
                                     channel(pixel, image->blue_mask));
        }
    }
    XDestroyImage(image);
    return picture;
}

// The server may be busy answering the clients of tests that run alongside: a few tries.
Display* openDisplayPatiently() {
    Display* x = XOpenDisplay(nullptr);
    for (int i = 0; i < 100 && x == nullptr; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        x = XOpenDisplay(nullptr);
    }
    if (x == nullptr) {
        throw std::runtime_error("cannot open the X display");
    }
    return x;
}

} // namespace

XWindowWatch::XWindowWatch() {
    Display* x = openDisplayPatiently();
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

XDisplay::XDisplay() {
    Display* x = openDisplayPatiently();
    display = x;
    previousErrorHandler = reinterpret_cast<void*>(XSetErrorHandler(ignoreXError));
}

XDisplay::~XDisplay() {
    Display* x = static_cast<Display*>(display);
    XSync(x, False);
    XSetErrorHandler(reinterpret_cast<XErrorHandler>(previousErrorHandler));
    XCloseDisplay(x);
}

WindowPicture XDisplay::pictureOfWindow(const std::string& windowId) const {
    const Window window = std::strtoul(windowId.c_str(), nullptr, 16);
    return window != 0 ? pictureOf(static_cast<Display*>(display), window) : WindowPicture{};
}

WindowPicture XDisplay::pictureOfWindowTitled(const std::string& title) const {
    Display* x = static_cast<Display*>(display);
    const Window window = windowTitled(x, DefaultRootWindow(x), title, 0);
    return window != 0 ? pictureOf(x, window) : WindowPicture{};
}

bool XDisplay::hasWindowTitled(const std::string& title) const {
    Display* x = static_cast<Display*>(display);
    return windowTitled(x, DefaultRootWindow(x), title, 0) != 0;
}

void XDisplay::raiseWindowTitled(const std::string& title) const {
    Display* x = static_cast<Display*>(display);
    if (const Window window = windowTitled(x, DefaultRootWindow(x), title, 0); window != 0) {
        XRaiseWindow(x, window);
        XSync(x, False);
    }
}

bool keepWindowPicture(const WindowPicture& picture, const std::string& name) {
    if (picture.pixels.empty()) {
        return false;
    }
    std::filesystem::create_directories(SCREENSHOT_DIR);
    const std::string file = std::string(SCREENSHOT_DIR) + "/" + name + ".png";
    std::vector<std::uint32_t> pixels = picture.pixels;
    SDL_Surface* surface =
        SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), picture.width, picture.height, 32,
                                           picture.width * 4, SDL_PIXELFORMAT_RGB888);
    if (surface == nullptr) {
        return false;
    }
    const bool written = IMG_SavePNG(surface, file.c_str()) == 0;
    SDL_FreeSurface(surface);
    return written;
}
