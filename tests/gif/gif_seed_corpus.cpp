// Writes the fuzzer's seeds: the real-world samples and the hand-made odd files of the tests.
#include "tests/gif/gif_test_support.h"

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: gif_seed_corpus <folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    try {
        std::filesystem::create_directories(folder);
        makeSampleFiles(folder);
        const std::vector<GifColorType> colors = {{10, 20, 30}, {40, 50, 60}};
        RawImage odd{.width = 4, .localColors = colors, .indices = {0, 1, 2, 3}};
        odd.graphicControls = {{0x01, 5}, {0x0D, 7, 0, 1}};
        writeRawGif(folder / "odd.gif", {.width = 4, .globalColors = colors, .images = {odd}});
        writeRawGif(folder / "bare.gif",
                    {.globalColors = colors, .dropGlobalTable = true, .images = {{}}});
        // Only GIFs stay: the pictures the samples were made from would only dilute the corpus.
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() != ".gif") {
                std::filesystem::remove(entry.path());
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "gif_seed_corpus: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
