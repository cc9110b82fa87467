#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Records every top-level window created or destroyed on the X display ($DISPLAY) for as long
// as it lives: a window that shows for a single frame is seen all the same.
class XWindowWatch {
  public:
    XWindowWatch();
    ~XWindowWatch();
    XWindowWatch(const XWindowWatch&) = delete;
    XWindowWatch& operator=(const XWindowWatch&) = delete;

    struct Event {
        unsigned long window;
        int width, height;
        bool created; // false: destroyed
    };
    std::vector<Event> events() const;
    // Windows of this size created so far, and those of them not yet destroyed.
    int createdOfSize(int width, int height) const;
    int liveOfSize(int width, int height) const;
    // Waits (at most 2 s) until the server has reported every such window destroyed.
    bool waitUntilNoneLive(int width, int height) const;
    // Index in events() of the first creation / destruction of a window of this size, or -1.
    int firstCreation(int width, int height) const;
    int firstDestruction(int width, int height) const;
    int lastDestruction(int width, int height) const;

  private:
    void run();
    void* display = nullptr;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::vector<Event> recorded;
    std::thread reader;
};

// What `xwininfo -root -tree` lists: the id of a window named title of this size, or "".
std::string xwininfoWindowOfSize(const std::string& title, int width, int height);
// The process that owns the window, from its _NET_WM_PID (`xprop`); 0 when unknown.
int xpropWindowPid(const std::string& windowId);
// A window's picture, read straight from the X server: 0xRRGGBB per pixel, row by row.
struct WindowPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// A connection to the X display ($DISPLAY) for as long as the object lives, to look at windows
// through in a few milliseconds and without another process. Holding it open also keeps the X
// server from starting over each time its last client leaves, which a client connecting at that
// moment (a launcher under test) does not survive whole.
class XDisplay {
  public:
    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // The picture of a window as it stands on the display now: no pixels when there is no such
    // window or it went away meanwhile. By its id (as xwininfo writes it) or by its title.
    WindowPicture pictureOfWindow(const std::string& windowId) const;
    WindowPicture pictureOfWindowTitled(const std::string& title) const;
    // Whether a window of this title is there.
    bool hasWindowTitled(const std::string& title) const;
    // Puts the window of this title above all others, such as the same-sized windows of tests
    // that run alongside, which a picture would show where they cover it. What was covered shows
    // once the window's program draws its next frame.
    void raiseWindowTitled(const std::string& title) const;

  private:
    void* display = nullptr;
    void* previousErrorHandler = nullptr;
};
// Keeps a picture as <SCREENSHOT_DIR>/<name>.png; true when the file was written.
bool keepWindowPicture(const WindowPicture& picture, const std::string& name);
