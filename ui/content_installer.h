#pragma once

// Installs the content behind the installer window and starts the game: 0 on success, else 1.
int runContentInstaller();
