// The system's D-Bus library, which SDL2's video subsystem opens for input methods and screen
// saver control, leaks a buffer of its connection; the window tests open the display. Only that
// library is named.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n";
}
