#pragma once

// Takes every pending event off SDL's queue, as a window must between frames to stay responsive;
// true when the player asked for a window to close among them.
bool drainWindowEvents();
