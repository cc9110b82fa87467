/* Linked into every program of an AddressSanitizer build. SDL unloads its video and D-Bus
 * libraries at SDL_Quit, and the memory those libraries keep until exit would then be reported as
 * leaks from an unknown module that no suppression can name. Keeping every library loaded lets
 * the leak checker name them; only the sanitizer builds carry this. */
int dlclose(void* handle) {
    (void)handle;
    return 0;
}
