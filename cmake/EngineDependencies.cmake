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
