#include "launcher/launcher_config.h"
#include "tests/ui/ui_test_support.h"
#include "tests/ui/white_text_box.h"
#include "tests/ui/window_test.h"
#include "ui/install_failed_notice.h"
#include "ui/installer_window.h"
#include "update/content_install_worker.h"
#include "update/http/transfer_progress.h"
#include "update/unzip_progress.h"

#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::string fontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string animationPath = testAssetPath("installer.gif");

class InstallerWindowTest : public WindowTest {
  protected:
    InstallerWindowTest() : WindowTest(animationPath) {}

    void SetUp() override {
        WindowTest::SetUp();
        installerDone = false;
        installerResult = 0;
        installerCloseRequested = false;
        launcherConfig.contentInstallerImageWidth = 200;
        launcherConfig.contentInstallerImageHeight = 100;
        launcherConfig.contentInstallerPercentDisplayTextX = 140;
        launcherConfig.contentInstallerPercentDisplayTextY = 60;
        launcherConfig.contentInstallerPercentDisplayTextWidth = 50;
        launcherConfig.contentInstallerPercentDisplayTextHeight = 30;
        ASSERT_EQ(openInstallerWindow("Drift Moor Installer"), 0) << SDL_GetError();
    }

    void TearDown() override {
        TTF_Quit();
        closeInstallerWindow();
        WindowTest::TearDown();
    }

    // The percentage frames without a font, installer.gif decoded afresh as at a run's start.
    static void playAnimation() {
        InstallerAnimation installerGif;
        runInstallerAnimation(installerGif, nullptr, {});
    }
};

} // namespace

TEST(InstallerPercent, EachHalfIsTruncatedBeforeTheSum) {
    EXPECT_EQ(installerPercentText(0, 0), "0%");
    EXPECT_EQ(installerPercentText(37, 0), "18%");
    EXPECT_EQ(installerPercentText(100, 0), "50%");
    EXPECT_EQ(installerPercentText(100, 99), "99%");
    EXPECT_EQ(installerPercentText(100, 100), "100%");
    EXPECT_EQ(installerPercentText(99, 99), "98%");
}

TEST_F(InstallerWindowTest, OpensBorderlessAndCentredAtTheConfiguredSize) {
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(installerWindow, &width, &height);
    EXPECT_EQ(width, 200);
    EXPECT_EQ(height, 100);
    EXPECT_NE(SDL_GetWindowFlags(installerWindow) & SDL_WINDOW_BORDERLESS, 0u);
    EXPECT_STREQ(SDL_GetWindowTitle(installerWindow), "Drift Moor Installer");
    SDL_Rect display{};
    SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(installerWindow), &display);
    int x = 0;
    int y = 0;
    SDL_GetWindowPosition(installerWindow, &x, &y);
    EXPECT_NEAR(x, display.x + (display.w - 200) / 2, 1);
    EXPECT_NEAR(y, display.y + (display.h - 100) / 2, 1);
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(installerRenderer, &info);
    EXPECT_NE(info.flags & SDL_RENDERER_ACCELERATED, 0u);
    EXPECT_NE(info.flags & SDL_RENDERER_PRESENTVSYNC, 0u);
}

TEST_F(InstallerWindowTest, StretchesTheFrameAndScalesThePercentageIntoItsRectangle) {
    TTF_Font* font = TTF_OpenFont(fontPath.c_str(), 25);
    ASSERT_NE(font, nullptr);
    GIF_Frame frame{};
    frame.surface = twoColourSurface(4, 2, {200, 0, 0, 255}, {0, 200, 0, 255});
    downloadProgressPercent = 37;
    unzipProgressPercent = 0;
    drawInstallerFrame(frame, font, {255, 255, 255, 0});
    const auto pixels = readRendererPixels(installerRenderer, 200, 100, "installer-window");
    SDL_RenderPresent(installerRenderer);
    SDL_FreeSurface(frame.surface);
    TTF_CloseFont(font);

    const auto at = [&](int x, int y) {
        return rgbOf(pixels[static_cast<std::size_t>(y) * 200 + x]);
    };
    EXPECT_EQ(at(5, 5).r, 200);
    EXPECT_EQ(at(95, 95).r, 200);
    EXPECT_EQ(at(105, 5).g, 200);
    EXPECT_EQ(at(195, 40).g, 200);

    // White text pixels appear only inside (140, 60, 50, 30) and spread across most of it.
    const WhiteTextBox text = whiteTextBox({0, 0, 200, 100}, at);
    ASSERT_GE(text.maxX, 0) << "no text drawn";
    EXPECT_GE(text.minX, 140);
    EXPECT_LT(text.maxX, 190);
    EXPECT_GE(text.minY, 60);
    EXPECT_LT(text.maxY, 90);
    EXPECT_GT(text.maxX - text.minX, 35) << "the text is scaled to the rectangle's width";
}

TEST_F(InstallerWindowTest, WithoutAFontOnlyTheFrameIsDrawn) {
    GIF_Frame frame{};
    frame.surface = twoColourSurface(2, 2, {0, 0, 180, 255}, {0, 0, 180, 255});
    drawInstallerFrame(frame, nullptr, {255, 255, 255, 0});
    const auto pixels = readRendererPixels(installerRenderer, 200, 100, "installer-window-no-font");
    SDL_FreeSurface(frame.surface);
    for (const Uint32 pixel : pixels) {
        ASSERT_EQ(rgbOf(pixel).b, 180);
    }
}

TEST_F(InstallerWindowTest, ACloseRequestFinishesThePassAndKeepsTheResultUnset) {
    writeSolidAnimation(animationPath, 20, 10, {{255, 0, 0, 255}, {0, 0, 255, 255}}, 5, 20);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    const long before = installerFramesShown;
    playAnimation();
    EXPECT_EQ(installerFramesShown - before, 5);
    EXPECT_TRUE(installerDone.load());
    EXPECT_EQ(installerResult.load(), 0);
}

TEST_F(InstallerWindowTest, AWorkerFinishingMidPassEndsTheLoopAfterThatPass) {
    writeSolidAnimation(animationPath, 20, 10, {{0, 255, 0, 255}}, 5, 30);
    const long before = installerFramesShown;
    std::thread worker([before] {
        while (installerFramesShown - before < 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        installerResult.store(1);
        installerDone.store(true, std::memory_order_release);
    });
    playAnimation();
    worker.join();
    const long shown = installerFramesShown - before;
    EXPECT_GE(shown, 5);
    EXPECT_EQ(shown % 5, 0) << "the loop looks at the flag only between passes";
    EXPECT_EQ(installerResult.load(), 1);
}

TEST_F(InstallerWindowTest, AMissingAnimationWaitsForTheWorkerWithoutDrawing) {
    fs::remove(animationPath);
    const long before = installerFramesShown;
    std::thread worker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        installerDone.store(true, std::memory_order_release);
    });
    playAnimation();
    worker.join();
    EXPECT_EQ(installerFramesShown - before, 0);
    EXPECT_NE(log.contents().find("Installer animation unavailable, waiting without it: " +
                                  animationPath),
              std::string::npos);
}

TEST_F(InstallerWindowTest, AnImageWithoutFramesIsTreatedLikeAMissingOne) {
    GIF_Image* empty = GIF_CreateImage();
    GIF_SetCanvasSize(empty, 10, 10);
    GIF_SaveImage(empty, animationPath.c_str());
    GIF_FreeImage(empty);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    playAnimation();
    EXPECT_TRUE(installerDone.load());
}

TEST_F(InstallerWindowTest, InstallerGifIsDecodedOnceForTheWholeRun) {
    writeSolidAnimation(animationPath, 20, 10, {{255, 0, 0, 255}}, 3, 10);
    InstallerAnimation installerGif;
    const GIF_Image* decoded = decodedAnimation(installerGif);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->frameCount, 3);
    fs::remove(animationPath);
    EXPECT_EQ(decodedAnimation(installerGif), decoded)
        << "the failure notice plays the frames the percentage was drawn on";

    InstallerAnimation missing;
    EXPECT_EQ(decodedAnimation(missing), nullptr);
    writeSolidAnimation(animationPath, 20, 10, {{255, 0, 0, 255}}, 3, 10);
    EXPECT_EQ(decodedAnimation(missing), nullptr) << "a file that failed is not read again";
}

namespace {

constexpr Uint32 aMinuteMs = 60000;

// The worker has stored a failure and raised installerDone; the notice is kept short.
class InstallFailedNoticeTest : public InstallerWindowTest {
  protected:
    void SetUp() override {
        InstallerWindowTest::SetUp();
        installerResult = 1;
        installerDone = true;
        saved = installFailedNoticeMs;
        installFailedNoticeMs = 400;
        font = TTF_OpenFont(fontPath.c_str(), 14);
        ASSERT_NE(font, nullptr);
        writeSolidAnimation(animationPath, 20, 10, {{250, 250, 40, 255}}, 3, 20);
    }
    void TearDown() override {
        TTF_CloseFont(font);
        installFailedNoticeMs = saved;
        InstallerWindowTest::TearDown();
    }

    // How long showInstallFailedNotice kept the window up, in milliseconds.
    Uint64 noticeTime(const std::string& text) {
        InstallerAnimation installerGif;
        const Uint64 before = SDL_GetTicks64();
        showInstallFailedNotice(installerGif, font, {255, 255, 255, 0}, text);
        return SDL_GetTicks64() - before;
    }

    TTF_Font* font = nullptr;
    Uint32 saved = 0;
};

} // namespace

TEST_F(InstallFailedNoticeTest, DrawsTheTextCentredOnADarkBandOverTheFrame) {
    GIF_Frame frame{};
    frame.surface = twoColourSurface(2, 2, {250, 250, 40, 255}, {250, 250, 40, 255});
    SDL_Surface* words = TTF_RenderUTF8_Blended_Wrapped(font, "FAILED", {255, 255, 255, 0}, 168);
    ASSERT_NE(words, nullptr);
    SDL_Texture* text = SDL_CreateTextureFromSurface(installerRenderer, words);
    drawInstallFailedFrame(&frame, text);
    const auto pixels = readRendererPixels(installerRenderer, 200, 100, "install-failed-notice");
    SDL_RenderPresent(installerRenderer);
    SDL_DestroyTexture(text);
    SDL_FreeSurface(words);
    SDL_FreeSurface(frame.surface);

    const auto at = [&](int x, int y) {
        return rgbOf(pixels[static_cast<std::size_t>(y) * 200 + x]);
    };
    EXPECT_EQ(at(3, 3).b, 40) << "the frame stays visible above the band";
    EXPECT_LT(at(3, 50).r, 120) << "the band darkens the frame behind the text";
    const WhiteTextBox drawn = whiteTextBox({0, 0, 200, 100}, at);
    ASSERT_GE(drawn.maxX, 0) << "no text drawn";
    EXPECT_NEAR((drawn.minX + drawn.maxX) / 2, 100, 4);
    EXPECT_NEAR((drawn.minY + drawn.maxY) / 2, 50, 4);
    EXPECT_EQ(at(100, 5).b, 40) << "no percentage and no text outside the band";
}

TEST_F(InstallFailedNoticeTest, AFailureTextStaysForItsTimeWithoutThePercentageFrames) {
    const long before = installerFramesShown;
    EXPECT_GE(noticeTime("THE INSTALLATION FAILED"), 400u);
    EXPECT_EQ(installerFramesShown, before) << "the percentage frames are not drawn";
}

// The cases below give the notice a minute: one that ends before its time did not wait for it,
// however slow the machine.
TEST_F(InstallFailedNoticeTest, WithoutATextTheWindowClosesAtOnce) {
    installFailedNoticeMs = aMinuteMs;
    EXPECT_LT(noticeTime(""), aMinuteMs) << "no text: the window closes at once";
}

TEST_F(InstallFailedNoticeTest, ACloseRequestEndsTheText) {
    installFailedNoticeMs = aMinuteMs;
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    EXPECT_LT(noticeTime("THE INSTALLATION FAILED"), aMinuteMs) << "a close request ends it";
}

TEST_F(InstallFailedNoticeTest, AWindowThePlayerClosedShowsNoText) {
    installFailedNoticeMs = aMinuteMs;
    installerCloseRequested = true;
    EXPECT_LT(noticeTime("THE INSTALLATION FAILED"), aMinuteMs) << "the player closed the window";
}

TEST_F(InstallFailedNoticeTest, AnInstallThatWorkedShowsNoText) {
    installFailedNoticeMs = aMinuteMs;
    installerResult = 0;
    EXPECT_LT(noticeTime("THE INSTALLATION FAILED"), aMinuteMs) << "the install worked";
}

TEST_F(InstallerWindowTest, ACloseRequestIsToldApartFromTheWorkerFinishing) {
    writeSolidAnimation(animationPath, 20, 10, {{255, 0, 0, 255}}, 2, 10);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    playAnimation();
    EXPECT_TRUE(installerCloseRequested);
}
