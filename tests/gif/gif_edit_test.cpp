// Creating and editing images in memory: the frame array, ownership and running out of memory.
#include "tests/gif/gif_test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Frames told apart by their delay.
GIF_Frame* frameWithDelay(int delay) {
    GIF_Frame* frame = GIF_CreateFrameIndexed(1, 1, nullptr);
    GIF_SetDelay(frame, delay);
    return frame;
}

std::vector<int> delays(const GIF_Image* image) {
    std::vector<int> result;
    for (int i = 0; i < image->frameCount; ++i) {
        result.push_back(image->frames[i]->delay);
    }
    return result;
}

TEST(GifEdit, FrameArrayGrowsByTenAndInsertRemoveDeleteKeepOrder) {
    Image image{GIF_CreateImage()};
    ASSERT_TRUE(image);
    EXPECT_EQ(image->backgroundColor.a, 255);
    for (int i = 1; i <= 10; ++i) {
        GIF_AddFrame(image.get(), frameWithDelay(i));
    }
    EXPECT_EQ(image->frameCapacity, 10u);
    GIF_AddFrame(image.get(), frameWithDelay(11));
    EXPECT_EQ(image->frameCapacity, 20u);

    GIF_Frame* extra = frameWithDelay(99);
    GIF_InsertFrame(image.get(), extra, image->frameCount); // does nothing: the caller keeps it
    EXPECT_EQ(image->frameCount, 11);
    GIF_InsertFrame(image.get(), extra, 1);
    EXPECT_EQ(delays(image.get()), (std::vector<int>{1, 99, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));

    GIF_Frame* removed = GIF_RemoveFrame(image.get(), 0);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->delay, 1);
    GIF_FreeFrame(removed);
    GIF_DeleteFrame(image.get(), 10);
    GIF_DeleteFrame(image.get(), 4);
    EXPECT_EQ(delays(image.get()), (std::vector<int>{99, 2, 3, 4, 6, 7, 8, 9, 10}));
    EXPECT_EQ(GIF_RemoveFrame(image.get(), image->frameCount), nullptr);
}

TEST(GifEdit, AFullImageRefusesMoreFramesAndTheCallerKeepsThem) {
    Image image{GIF_CreateImage()};
    while (image->frameCount < 65535) {
        GIF_AddFrame(image.get(), frameWithDelay(0));
    }
    GIF_Frame* extra = frameWithDelay(1);
    GIF_AddFrame(image.get(), extra);
    GIF_InsertFrame(image.get(), extra, 0);
    EXPECT_EQ(image->frameCount, 65535);
    EXPECT_NE(image->frames[0], extra);
    GIF_FreeFrame(extra);
}

TEST(GifEdit, FramesPalettesAndSettersKeepWhatTheyAreGiven) {
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, 7, 3, 32, SDL_PIXELFORMAT_RGBA32);
    GIF_Frame* frame = GIF_CreateFrame(surface, 1);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 7);
    EXPECT_EQ(frame->height, 3);
    EXPECT_EQ(frame->delay, 100);

    const Uint8 indices[] = {1, 2, 3, 4, 5, 6};
    GIF_Frame* indexed = GIF_CreateFrameIndexed(3, 2, indices);
    ASSERT_NE(indexed, nullptr);
    EXPECT_TRUE(std::equal(indices, indices + 6, indexed->indexedPixels));

    GIF_SetTransparentColor(frame, SDL_Color{1, 2, 3, 4});
    EXPECT_TRUE(frame->transparentByColor && !frame->transparentByIndex);
    GIF_SetTransparentIndex(frame, 9);
    EXPECT_TRUE(!frame->transparentByColor && frame->transparentByIndex);
    GIF_UnsetTransparency(frame);
    EXPECT_TRUE(!frame->transparentByColor && !frame->transparentByIndex);

    SDL_Palette* basic = GIF_CreateBasicPalette();
    ASSERT_EQ(basic->ncolors, 256);
    EXPECT_EQ(basic->colors[77].g, 77);
    SDL_Palette* copy = GIF_CopyPalette(basic);
    EXPECT_EQ(SDL_memcmp(copy->colors, basic->colors, 256 * sizeof(SDL_Color)), 0);
    GIF_SetLocalPalette(frame, basic);
    GIF_SetLocalPalette(frame, basic); // handing it over again must not free it
    GIF_SetLocalPalette(frame, copy);  // frees basic; ASan reports it otherwise
    EXPECT_EQ(GIF_CopyPalette(nullptr), nullptr);
    EXPECT_EQ(GIF_CreatePalette(0, copy->colors), nullptr);

    GIF_FreeFrame(frame);
    GIF_FreeFrame(indexed);
    GIF_FreeFrame(nullptr);
    GIF_FreeImage(nullptr);
}

TEST(GifEdit, RunningOutOfMemoryNeverLeavesHalfBuiltResults) {
    failEachAllocationInTurn([] {
        GIF_Frame* frame = GIF_CreateFrameIndexed(2, 2, reinterpret_cast<const Uint8*>("abcd"));
        GIF_FreeFrame(frame);
        return frame != nullptr;
    });
    Image image{GIF_CreateImage()};
    for (int i = 0; i < 10; ++i) {
        GIF_AddFrame(image.get(), frameWithDelay(i));
    }
    failEachAllocationInTurn([&] {
        std::unique_ptr<GIF_Frame, void (*)(GIF_Frame*)> frame{frameWithDelay(10), GIF_FreeFrame};
        if (!frame) {
            return false;
        }
        GIF_AddFrame(image.get(), frame.get());
        if (image->frameCount == 10) {
            return false; // not added: the frame is still ours
        }
        frame.release();
        return true;
    });
    EXPECT_EQ(image->frameCount, 11);
    EXPECT_EQ(image->frameCapacity, 20u);
}

} // namespace
