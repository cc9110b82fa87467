#include "ui/install_failed_notice.h"

#include "launcher/launcher_config.h"
#include "ui/installer_window.h"
#include "ui/sdl_resources.h"
#include "ui/window_events.h"
#include "update/content_install_worker.h"

#include <algorithm>

Uint32 installFailedNoticeMs = 5000;

namespace {

// Keeps the text off the window's edges; the wrap width follows from it.
constexpr int textMargin = 16;
constexpr Uint32 framePauseWithoutAnimationMs = 16;

bool workerFailed() {
    return installerDone.load(std::memory_order_acquire) &&
           installerResult.load(std::memory_order_acquire) != 0;
}

SDL_Texture* renderNoticeText(TTF_Font* font, SDL_Color colour, const std::string& text) {
    const int wrapWidth = std::max(0, launcherConfig.contentInstallerImageWidth - 2 * textMargin);
    const SurfaceHandle surface(
        TTF_RenderUTF8_Blended_Wrapped(font, text.c_str(), colour, static_cast<Uint32>(wrapWidth)));
    return surface ? SDL_CreateTextureFromSurface(installerRenderer, surface.get()) : nullptr;
}

} // namespace

void drawInstallFailedFrame(const GIF_Frame* frame, SDL_Texture* text) {
    SDL_RenderClear(installerRenderer);
    if (frame != nullptr && frame->surface != nullptr) {
        const TextureHandle picture(
            SDL_CreateTextureFromSurface(installerRenderer, frame->surface));
        if (picture) {
            SDL_RenderCopy(installerRenderer, picture.get(), nullptr, nullptr);
        }
    }
    if (text == nullptr) {
        return;
    }
    int width = 0;
    int height = 0;
    SDL_QueryTexture(text, nullptr, nullptr, &width, &height);
    const int windowWidth = launcherConfig.contentInstallerImageWidth;
    const int windowHeight = launcherConfig.contentInstallerImageHeight;
    const SDL_Rect where{(windowWidth - width) / 2, (windowHeight - height) / 2, width, height};
    // The animation may be as light as the text; a dark band keeps the words readable.
    const SDL_Rect band{0, where.y - textMargin / 2, windowWidth, height + textMargin};
    SDL_SetRenderDrawBlendMode(installerRenderer, SDL_BLENDMODE_BLEND);
    SDL_SetRenderDrawColor(installerRenderer, 0, 0, 0, 170);
    SDL_RenderFillRect(installerRenderer, &band);
    // Back to the renderer's defaults, which the percentage frames clear with.
    SDL_SetRenderDrawColor(installerRenderer, 0, 0, 0, 255);
    SDL_SetRenderDrawBlendMode(installerRenderer, SDL_BLENDMODE_NONE);
    SDL_RenderCopy(installerRenderer, text, nullptr, &where);
}

void showInstallFailedNotice(InstallerAnimation& installerGif, TTF_Font* font, SDL_Color colour,
                             const std::string& text) {
    if (text.empty() || font == nullptr || installerCloseRequested || !workerFailed()) {
        return;
    }
    const TextureHandle words(renderNoticeText(font, colour, text));
    const GIF_Image* animation = decodedAnimation(installerGif);
    const Uint16 frames = animation != nullptr ? animation->frameCount : 0;
    const Uint64 end = SDL_GetTicks64() + installFailedNoticeMs;
    for (Uint16 next = 0; !drainWindowEvents(); next = frames > 0 ? (next + 1) % frames : 0) {
        const Uint64 now = SDL_GetTicks64();
        if (now >= end) {
            return;
        }
        const GIF_Frame* frame = frames > 0 ? animation->frames[next] : nullptr;
        drawInstallFailedFrame(frame, words.get());
        SDL_RenderPresent(installerRenderer);
        const Uint32 delay = frame != nullptr ? static_cast<Uint32>(std::max(frame->delay, 0))
                                              : framePauseWithoutAnimationMs;
        SDL_Delay(static_cast<Uint32>(std::min<Uint64>(delay, end - now)));
    }
}
