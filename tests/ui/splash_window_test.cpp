#include "launcher/launcher_config.h"
#include "launcher/launcher_flow.h"
#include "tests/ui/ui_test_support.h"
#include "tests/ui/window_test.h"
#include "ui/splash_window.h"

#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

class SplashWindowTest : public WindowTest {
  protected:
    SplashWindowTest() : WindowTest(testAssetPath("launcher.gif")) {}

    void SetUp() override {
        WindowTest::SetUp();
        launcherConfig.launcherImageWidth = 120;
        launcherConfig.launcherImageHeight = 80;
        launcherConfig.launcherFontColorR = 300; // low 8 bits: 44
        launcherConfig.launcherFontColorG = 256; // 0
        launcherConfig.launcherFontColorB = 255;
        launcherConfig.launcherDisplayTextX = 10;
        launcherConfig.launcherDisplayTextY = 10;
        launcherConfig.launcherDisplayTextWidth = 60;
        launcherConfig.launcherDisplayTextHeight = 5;
        launcherConfig.checkingForUpdatesText = "CHECKING FOR UPDATES";
        launcherDone = false;
        // Larger than the window: 200 x 100, left half yellow, right half grey.
        writeSplitPicture(picture, 200, 100, {230, 230, 0, 255}, {128, 128, 128, 255});
    }
};

Rgb surfacePixel(SDL_Surface* surface, int x, int y) {
    Uint32 value = 0;
    std::memcpy(&value, static_cast<Uint8*>(surface->pixels) + y * surface->pitch + x * 4, 4);
    Uint8 r, g, b;
    SDL_GetRGB(value, surface->format, &r, &g, &b);
    return Rgb{r, g, b};
}

} // namespace

TEST_F(SplashWindowTest, DrawsThePictureUnscaledWithTheWrappedTextOverIt) {
    ASSERT_TRUE(openSplashWindow());
    ASSERT_TRUE(loadSplashImage());
    ASSERT_EQ(TTF_Init(), 0);
    TTF_Font* font = TTF_OpenFont("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 14);
    ASSERT_NE(font, nullptr);

    SDL_Window* window = SDL_GetWindowFromID(1);
    int width = 0, height = 0;
    for (Uint32 id = 1; id < 16 && width == 0; ++id) {
        if ((window = SDL_GetWindowFromID(id))) {
            SDL_GetWindowSize(window, &width, &height);
        }
    }
    EXPECT_EQ(width, 120);
    EXPECT_EQ(height, 80);
    EXPECT_NE(SDL_GetWindowFlags(window) & SDL_WINDOW_BORDERLESS, 0u);

    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    SDL_Surface* text = runSplashFrameLoop(font);
    EXPECT_TRUE(launcherDone);
    ASSERT_NE(text, nullptr);
    EXPECT_LE(text->w, 60);
    EXPECT_GT(text->h, TTF_FontLineSkip(font)) << "the text wraps at the configured width";

    SDL_Surface* drawn = SDL_GetWindowSurface(window);
    saveSurfaceScreenshot(drawn, "splash-window");
    // Unscaled and clipped: the halves meet at x = 100 of the 120-pixel window.
    EXPECT_EQ(surfacePixel(drawn, 95, 75).r, 230);
    EXPECT_EQ(surfacePixel(drawn, 95, 75).b, 0);
    EXPECT_EQ(surfacePixel(drawn, 105, 75).b, 128);
    // Somewhere in the text's rectangle the colour (44, 0, 255) shows.
    bool textColourSeen = false;
    for (int y = 10; y < 10 + text->h && y < 80; ++y) {
        for (int x = 10; x < 70; ++x) {
            const Rgb p = surfacePixel(drawn, x, y);
            textColourSeen |= p.r == 44 && p.g == 0 && p.b == 255;
        }
    }
    EXPECT_TRUE(textColourSeen);
    closeSplashWindow();
    SDL_FreeSurface(text);
    TTF_CloseFont(font);
    TTF_Quit();
}

TEST_F(SplashWindowTest, NothingIsDrawnWhenTheContentStepHasFinished) {
    launcherDone = true;
    ASSERT_TRUE(openSplashWindow());
    ASSERT_TRUE(loadSplashImage());
    EXPECT_EQ(runSplashFrameLoop(nullptr), nullptr);
    closeSplashWindow();
}

TEST_F(SplashWindowTest, AMissingPictureFailsAtOnce) {
    fs::remove(picture);
    ASSERT_TRUE(openSplashWindow());
    EXPECT_FALSE(loadSplashImage());
    closeSplashWindow();
    const std::string contents = log.contents();
    EXPECT_NE(contents.find(":Unable to optimize image launcher.gif! SDL Error: "),
              std::string::npos);
    EXPECT_NE(contents.find(":Failed to load image!\n"), std::string::npos);
}
