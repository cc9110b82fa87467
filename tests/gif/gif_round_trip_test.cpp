// Images built in memory, saved with GIF_SaveImage and loaded back with GIF_LoadImage.
#include "tests/gif/gif_test_support.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const SDL_Color sixColors[] = {{255, 0, 0, 255},   {0, 255, 0, 255},   {0, 0, 255, 255},
                               {250, 250, 0, 255}, {0, 128, 255, 255}, {90, 10, 200, 255}};

// A 3 x 2 picture of the six colours, drawn nearly but not exactly in them (nearest match).
SDL_Surface* sixColorSurface() {
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, 3, 2, 24, SDL_PIXELFORMAT_RGB24);
    for (int i = 0; i < 6; ++i) {
        const SDL_Color& c = sixColors[i];
        auto* at = static_cast<Uint8*>(surface->pixels) + (i / 3) * surface->pitch + (i % 3) * 3;
        at[0] = static_cast<Uint8>(c.r ^ 1);
        at[1] = c.g;
        at[2] = c.b;
    }
    return surface;
}

TEST(GifRoundTrip, FramesComeBackPixelForPixelWithTheirSettings) {
    TempFolder folder;
    Image image{GIF_CreateImage()};
    GIF_SetCanvasSize(image.get(), 10, 8);
    GIF_SetGlobalPalette(image.get(), GIF_CreatePalette(6, sixColors));
    GIF_SetBackgroundColor(image.get(), sixColors[4]);
    GIF_SetLooping(image.get(), 5);

    GIF_Frame* drawn = GIF_CreateFrame(sixColorSurface(), 1);
    GIF_SetDelay(drawn, 105);
    GIF_SetDisposal(drawn, 1);
    GIF_AddFrame(image.get(), drawn);

    const Uint8 indices[] = {0, 1, 2, 3};
    GIF_Frame* indexed = GIF_CreateFrameIndexed(2, 2, indices);
    indexed->left = 4;
    indexed->top = 5;
    GIF_SetLocalPalette(indexed, GIF_CreateBasicPalette());
    GIF_SetTransparentColor(indexed, SDL_Color{2, 2, 2, 0});
    GIF_AddFrame(image.get(), indexed);
    GIF_AddFrame(image.get(), GIF_CreateFrameIndexed(1, 1, nullptr)); // back to the global table

    const auto path = folder / "round.gif";
    ASSERT_EQ(GIF_SaveImage(image.get(), path.c_str()), 1);
    EXPECT_EQ(image->backgroundIndex, 4);
    EXPECT_EQ(indexed->transparentIndex, 2);
    EXPECT_EQ(graphicControlsOf(path), (std::vector<std::vector<GifByteType>>{
                                           {0x00, 10, 0, 0}, {0x09, 10, 0, 2}, {0x08, 10, 0, 0}}));

    Image loaded{GIF_LoadImage(path.c_str())};
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->width, 10);
    EXPECT_EQ(loaded->loopCount, 5);
    ASSERT_EQ(loaded->frameCount, 3);
    const GIF_Frame* first = loaded->frames[0];
    EXPECT_EQ(first->surface->format->Rmask, 0x000000FFu);
    EXPECT_EQ(first->surface->format->Amask, 0xFF000000u);
    EXPECT_EQ(first->delay, 100);
    EXPECT_EQ(first->disposal, 1);
    for (int i = 0; i < 6; ++i) {
        const SDL_Color& c = sixColors[i];
        EXPECT_EQ(pixelAt(first->surface, i % 3, i / 3), (Rgba{c.r, c.g, c.b, 255})) << i;
    }
    const GIF_Frame* second = loaded->frames[1];
    EXPECT_EQ(second->left, 4);
    EXPECT_EQ(second->top, 5);
    EXPECT_EQ(second->disposal, 0);
    EXPECT_EQ(surfacePixels(second->surface),
              (std::vector<Rgba>{{0, 0, 0, 255}, {1, 1, 1, 255}, {2, 2, 2, 0}, {3, 3, 3, 255}}));
    EXPECT_EQ(pixelAt(loaded->frames[2]->surface, 0, 0), (Rgba{255, 0, 0, 255}));
}

TEST(GifRoundTrip, DisposalThreeIsSavedBackAsRestoreToBackground) {
    TempFolder folder;
    RawImage previous{.graphicControls = {{0x0C, 0, 0, 0}}};
    RawImage none{.graphicControls = {{0x04, 0, 0, 0}}};
    writeRawGif(folder / "in.gif", {.globalColors = {{}, {}}, .images = {previous, none}});
    Image image{GIF_LoadImage((folder / "in.gif").c_str())};
    ASSERT_TRUE(image);
    EXPECT_EQ(image->frames[0]->disposal, 0);
    EXPECT_EQ(image->frames[1]->disposal, 1);
    // Delays beyond the 16-bit field are pinned, not wrapped into something short.
    image->frames[0]->delay = -30;
    image->frames[1]->delay = 1000000;
    ASSERT_EQ(GIF_SaveImage(image.get(), (folder / "out.gif").c_str()), 1);
    EXPECT_EQ(readFile(folder / "out.gif").substr(0, 6), "GIF89a");
    EXPECT_EQ(graphicControlsOf(folder / "out.gif"),
              (std::vector<std::vector<GifByteType>>{{0x08, 0, 0, 0}, {0x00, 0xFF, 0xFF, 0}}));
}

TEST(GifRoundTrip, FramesWithNothingToDrawFromAreWrittenAsIndexZero) {
    TempFolder folder;
    Image image{GIF_CreateImage()};
    GIF_SetCanvasSize(image.get(), 4, 4);
    GIF_AddFrame(image.get(), GIF_CreateFrameIndexed(2, 2, nullptr));
    GIF_SetLocalPalette(image->frames[0], GIF_CreatePalette(2, sixColors + 2));
    // No palette anywhere for this one: still written, as index 0 of a black table.
    SDL_Surface* white = SDL_CreateRGBSurfaceWithFormat(0, 3, 1, 32, SDL_PIXELFORMAT_RGBA32);
    SDL_FillRect(white, nullptr, 0xFFFFFFFF);
    GIF_AddFrame(image.get(), GIF_CreateFrame(white, 1));
    ASSERT_EQ(GIF_SaveImage(image.get(), (folder / "blank.gif").c_str()), 1);

    Image loaded{GIF_LoadImage((folder / "blank.gif").c_str())};
    ASSERT_TRUE(loaded);
    EXPECT_EQ(surfacePixels(loaded->frames[0]->surface), std::vector<Rgba>(4, Rgba{0, 0, 255}));
    EXPECT_EQ(surfacePixels(loaded->frames[1]->surface), std::vector<Rgba>(3, Rgba{0, 0, 0}));
}

TEST(GifRoundTrip, AFailedSaveReportsZeroAndLeavesNoFile) {
    TempFolder folder;
    Image empty{GIF_CreateImage()};
    EXPECT_EQ(GIF_SaveImage(empty.get(), (folder / "empty.gif").c_str()), 0);
    EXPECT_EQ(GIF_SaveImage(nullptr, (folder / "none.gif").c_str()), 0);

    Image image{GIF_CreateImage()};
    GIF_SetGlobalPalette(image.get(), GIF_CreateBasicPalette());
    GIF_AddFrame(image.get(), GIF_CreateFrame(sixColorSurface(), 1));
    EXPECT_EQ(GIF_SaveImage(image.get(), (folder / "missing" / "x.gif").c_str()), 0);

    const auto path = folder / "partial.gif";
    failEachAllocationInTurn([&] {
        if (GIF_SaveImage(image.get(), path.c_str()) == 1) {
            return true;
        }
        EXPECT_FALSE(std::filesystem::exists(path));
        return false;
    });
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(GifRoundTrip, AFailedSaveRemovesOnlyAFileItCreatedItself) {
    namespace fs = std::filesystem;
    TempFolder folder;
    Image image{GIF_CreateImage()};
    GIF_SetGlobalPalette(image.get(), GIF_CreateBasicPalette());
    GIF_AddFrame(image.get(), GIF_CreateFrame(sixColorSurface(), 1));

    // A link, a file that was there before and (as root) a device node stand where the save
    // writes; each failure after the open leaves the name as it was.
    writeFile(folder / "target.gif", "someone's picture");
    fs::create_symlink(folder / "target.gif", folder / "link.gif");
    writeFile(folder / "existing.gif", "old");
    std::vector<fs::path> names = {folder / "link.gif", folder / "existing.gif"};
    if (geteuid() == 0 && mknod((folder / "null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
        names.push_back(folder / "null");
    }
    for (const fs::path& name : names) {
        const auto typeBefore = fs::symlink_status(name).type();
        failEachAllocationInTurn([&] {
            if (GIF_SaveImage(image.get(), name.c_str()) == 1) {
                return true;
            }
            EXPECT_EQ(fs::symlink_status(name).type(), typeBefore) << name;
            return false;
        });
        EXPECT_EQ(fs::symlink_status(name).type(), typeBefore) << name;
    }
    EXPECT_TRUE(fs::is_regular_file(folder / "target.gif"));
}

} // namespace
