// libsndfile's Ogg Vorbis reader (Debian's 1.2.0) leaks its Vorbis info block when a damaged file
// fails to open; the decoder tests open many such files. Only that library is named.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libvorbis.so\n";
}
