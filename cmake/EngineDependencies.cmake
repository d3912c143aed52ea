# Third-party libraries, all from Debian packages (scripts/install-deps).

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)

# libdeflate inflates archive blocks (zlib still writes them).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)

set(ENGINE_PRIVATE_LIBS ZLIB::ZLIB OpenSSL::Crypto PkgConfig::LIBDEFLATE ${CMAKE_DL_LIBS})
