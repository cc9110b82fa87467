#pragma once
#include <atomic>
#include <cstddef>
#include <thread>

// Makes the pages of a writable shared file mapping a stretch ahead of a writer that fills it
// from its start, on a thread of its own. Making a page costs the kernel more than writing it
// (it finds the block, zeroes the page, and on a virtual machine the host may have to hand the
// memory back first): done on the writer's thread, all of it waits in line with the writing.
// The lead is bounded, so the made but unwritten pages stay few. Without a thread (none could be
// started) the writer's own faults make the pages, as they would anyway.
class PagesAhead {
  public:
    PagesAhead(char* start, std::size_t size);
    ~PagesAhead();
    PagesAhead(const PagesAhead&) = delete;
    PagesAhead& operator=(const PagesAhead&) = delete;

    // The writer has filled the first written bytes.
    void writerAt(std::size_t written);

  private:
    void makeAhead();

    char* start;
    std::size_t size;
    std::atomic<std::size_t> written{0};
    std::atomic<bool> stopping{false};
    std::thread maker;
};
