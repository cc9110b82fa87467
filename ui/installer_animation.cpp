#include "ui/installer_animation.h"

const GIF_Image* decodedAnimation(InstallerAnimation& animation) {
    if (!animation.decodeTried) {
        animation.decodeTried = true;
        animation.image.reset(GIF_LoadImage(animation.path.c_str()));
    }
    return animation.image.get();
}
