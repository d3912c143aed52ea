# Third-party libraries, all from Debian packages (scripts/install-deps).

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)

# libdeflate inflates archive blocks (zlib still writes them).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)

set(ENGINE_PRIVATE_LIBS ZLIB::ZLIB OpenSSL::Crypto PkgConfig::LIBDEFLATE ${CMAKE_DL_LIBS})

# CGAL (header-only) is used by one source file only, the 2-D mesh generator, because it compiles
# slowly; its exact number types need GMP and MPFR, and GCC needs -frounding-math for its interval
# filters to be sound.
find_path(CGAL_INCLUDE_DIR CGAL/Constrained_triangulation_plus_2.h REQUIRED)
find_library(GMP_LIBRARY gmp REQUIRED)
find_library(MPFR_LIBRARY mpfr REQUIRED)
set_source_files_properties(${PROJECT_SOURCE_DIR}/Engine/core/MeshGenerator2D.cpp PROPERTIES
  COMPILE_OPTIONS "$<$<CXX_COMPILER_ID:GNU>:-frounding-math>")
list(APPEND ENGINE_PRIVATE_LIBS ${MPFR_LIBRARY} ${GMP_LIBRARY})

# Graphics, window, input, fonts and video: the OpenGL device module (EGL and GL through libepoxy),
# the SDL2 window layer, FreeType and fontconfig for device fonts, FFmpeg for the video player
# (libswresample turns its sound track into the samples the sound layer plays).
pkg_check_modules(EPOXY REQUIRED IMPORTED_TARGET epoxy)
pkg_check_modules(EGL REQUIRED IMPORTED_TARGET egl)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(FREETYPE REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswscale libswresample)
list(APPEND ENGINE_PRIVATE_LIBS PkgConfig::SDL2 PkgConfig::FFMPEG)
# Images: libpng and libjpeg(-turbo) decode PNG and JPEG files within their bytes, DevIL converts
# the decoded pixels between layouts.
pkg_check_modules(DEVIL REQUIRED IMPORTED_TARGET IL)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(JPEG REQUIRED IMPORTED_TARGET libjpeg)
# The platform layer's fatal-error box is SDL's.
list(APPEND ENGINE_PRIVATE_LIBS PkgConfig::DEVIL PkgConfig::PNG PkgConfig::JPEG PkgConfig::SDL2)
# Sound: OpenAL Soft plays, libsndfile decodes.
pkg_check_modules(OPENAL REQUIRED IMPORTED_TARGET openal)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
# libvorbis and libogg (what libsndfile reads Ogg Vorbis with): the decoder reads an Ogg file's
# Vorbis headers itself before libsndfile does.
pkg_check_modules(VORBIS REQUIRED IMPORTED_TARGET vorbis ogg)
list(APPEND ENGINE_PRIVATE_LIBS PkgConfig::OPENAL PkgConfig::SNDFILE PkgConfig::VORBIS)
# Physics (ODE), path meshes and paths (Recast/Detour), network transport (ENet).
pkg_check_modules(ODE REQUIRED IMPORTED_TARGET ode)
pkg_check_modules(ENET REQUIRED IMPORTED_TARGET libenet)
list(APPEND ENGINE_PRIVATE_LIBS PkgConfig::ENET)
list(APPEND ENGINE_PRIVATE_LIBS PkgConfig::ODE)
find_path(RECAST_INCLUDE_DIR Recast.h PATH_SUFFIXES recastnavigation REQUIRED)
find_library(RECAST_LIBRARY Recast REQUIRED)
find_library(DETOUR_LIBRARY Detour REQUIRED)
add_library(Engine::RecastDetour INTERFACE IMPORTED)
target_include_directories(Engine::RecastDetour INTERFACE ${RECAST_INCLUDE_DIR})
target_link_libraries(Engine::RecastDetour INTERFACE ${DETOUR_LIBRARY} ${RECAST_LIBRARY})
list(APPEND ENGINE_PRIVATE_LIBS Engine::RecastDetour)
