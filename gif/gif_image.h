/* Animated GIF images held in memory as SDL surfaces, one RGBA surface and a display time per
 * frame, loaded and saved through giflib. Every function is callable from C.
 *
 * Memory comes from SDL's allocator (SDL_malloc/SDL_free) and palettes are SDL_Palette objects,
 * so an image can be handed to any SDL code and released with GIF_FreeImage. Every function
 * given a null image or frame does nothing, or returns null or 0. */
#ifndef LAUNCHER_GIF_IMAGE_H
#define LAUNCHER_GIF_IMAGE_H

#include <SDL.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct GIF_Frame {
    Sint32 left;
    Sint32 top;
    Uint16 width;
    Uint16 height;
    SDL_Palette* localPalette; /* owned, may be null */
    Sint32 transparentByColor;
    SDL_Color transparentColor;
    Sint32 transparentByIndex;
    Uint8 transparentIndex;
    Sint32 disposal; /* 0: restore to background after display; non-zero: leave in place */
    Sint32 delay;    /* milliseconds */
    SDL_Surface* surface;
    Sint32 ownsSurface;   /* non-zero: GIF_FreeFrame frees surface */
    Uint8* indexedPixels; /* owned, may be null; width x height colour indices, row-major */
} GIF_Frame;

typedef struct GIF_Image {
    Uint16 width;
    Uint16 height;
    SDL_Palette* globalPalette; /* owned, may be null */
    Sint32 backgroundIsColor;
    Uint8 backgroundIndex;
    SDL_Color backgroundColor;
    Uint16 loopCount;
    Uint16 frameCount;
    Uint32 frameCapacity;
    GIF_Frame** frames; /* owned */
    Uint16 extraBlockCount;
    void** extraBlocks; /* owned; released with the image */
} GIF_Image;

/* Null when the file cannot be opened or decoded, holds more than 65535 images, or memory runs
 * out. The caller owns the result. */
GIF_Image* GIF_LoadImage(const char* file);
void GIF_FreeImage(GIF_Image* image);
void GIF_FreeFrame(GIF_Frame* frame);

GIF_Image* GIF_CreateImage(void);
void GIF_SetCanvasSize(GIF_Image* image, Uint16 width, Uint16 height);
void GIF_SetBackgroundColor(GIF_Image* image, SDL_Color color);
void GIF_SetBackgroundIndex(GIF_Image* image, Uint8 index);
void GIF_SetLooping(GIF_Image* image, Uint16 count);
/* Takes ownership of palette; with a null image the caller keeps it. */
void GIF_SetGlobalPalette(GIF_Image* image, SDL_Palette* palette);

/* Null when count < 1, colors is null or memory runs out. */
SDL_Palette* GIF_CreatePalette(int count, const SDL_Color* colors);
SDL_Palette* GIF_CreateBasicPalette(void);
SDL_Palette* GIF_CopyPalette(const SDL_Palette* palette);

GIF_Frame* GIF_CreateFrame(SDL_Surface* surface, int ownsSurface);
GIF_Frame* GIF_CreateFrameIndexed(Uint16 width, Uint16 height, const Uint8* indices);

/* The image takes ownership of a frame it adds or inserts. When nothing is added (null image,
 * index out of range, 65535 frames already, or no memory to grow the array) the caller keeps
 * the frame; frameCount tells which happened. */
void GIF_AddFrame(GIF_Image* image, GIF_Frame* frame);
void GIF_InsertFrame(GIF_Image* image, GIF_Frame* frame, Uint16 index);
/* The caller owns the returned frame. */
GIF_Frame* GIF_RemoveFrame(GIF_Image* image, Uint16 index);
void GIF_DeleteFrame(GIF_Image* image, Uint16 index);

/* Takes ownership of palette; with a null frame the caller keeps it. */
void GIF_SetLocalPalette(GIF_Frame* frame, SDL_Palette* palette);
void GIF_SetDelay(GIF_Frame* frame, int milliseconds);
void GIF_SetTransparentColor(GIF_Frame* frame, SDL_Color color);
void GIF_SetTransparentIndex(GIF_Frame* frame, Uint8 index);
void GIF_UnsetTransparency(GIF_Frame* frame);
void GIF_SetDisposal(GIF_Frame* frame, int value);

/* 1 on success, 0 on failure; a failed save leaves no file behind. Updates backgroundIndex,
 * transparentIndex, frame sizes and indexedPixels to what was written. */
int GIF_SaveImage(GIF_Image* image, const char* file);

#ifdef __cplusplus
}
#endif

#endif
