#pragma once

// Downloads, unpacks and starts the launcher's installer: 0 when it is running, else 1.
int selfUpdateLauncher();
