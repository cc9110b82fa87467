#include "relocation/app_relocator.h"

void relocateToApplicationsFolder() {}
