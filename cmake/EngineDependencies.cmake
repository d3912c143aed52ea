# Third-party libraries, all from Debian packages (scripts/install-deps).

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)

set(ENGINE_PRIVATE_LIBS ZLIB::ZLIB OpenSSL::Crypto ${CMAKE_DL_LIBS})
