# What `cmake --install` puts under the prefix:
#   lib/libEngine.so.<version> (with its soname and development links)
#   lib/<device>.so            every render device module, beside libEngine.so where the engine
#                              looks for them first
#   lib/libdatakit.a           the writers of tools/datakit
#   include/Engine/<folder>/   the library's headers, included as "core/Vec3.h"; the datakit
#                              headers as "datakit/ArzWriter.h"
#   bin/EngineHost             the sample host
#   lib/cmake/Engine/          the package for find_package(Engine CONFIG): Engine::Engine and
#                              Engine::datakit (the build folder holds the same package for its
#                              own build: EngineConfig.cmake, EngineTargets.cmake)
#   lib/pkgconfig/engine.pc    the same library for pkg-config

include(CMakePackageConfigHelpers)

# The link items that a list of libraries stands for once no target of this build exists: imported
# targets (found by find_package or pkg-config here) opened up into their files and link options,
# recursively. Threads::Threads stays, the package configuration finds it again. The installed
# datakit, a static library, hands these to whoever links it.
function(engine_link_files out)
  set(files)
  foreach(item IN LISTS ARGN)
    if(item STREQUAL "Threads::Threads" OR NOT TARGET ${item})
      list(APPEND files ${item})
      continue()
    endif()
    get_target_property(imported ${item} IMPORTED)
    if(NOT imported)
      message(FATAL_ERROR "engine_link_files: ${item} is a target of this build; install and export it")
    endif()
    get_target_property(type ${item} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(location ${item} IMPORTED_LOCATION)
      if(NOT location)
        get_target_property(configs ${item} IMPORTED_CONFIGURATIONS)
        list(GET configs 0 config)
        get_target_property(location ${item} IMPORTED_LOCATION_${config})
      endif()
      if(NOT location)
        message(FATAL_ERROR "engine_link_files: ${item} names no library file")
      endif()
      list(APPEND files ${location})
    endif()
    get_target_property(links ${item} INTERFACE_LINK_LIBRARIES)
    if(links)
      engine_link_files(link_files ${links})
      list(APPEND files ${link_files})
    endif()
    get_target_property(options ${item} INTERFACE_LINK_OPTIONS)
    if(options)
      list(APPEND files ${options})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES files)
  set(${out} ${files} PARENT_SCOPE)
endfunction()

set(ENGINE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Engine)

install(TARGETS Engine EXPORT EngineTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/Engine/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Engine
  FILES_MATCHING PATTERN "*.h")

if(TARGET datakit)
  # Compiled with what its libraries ask of their users, linked by their files.
  foreach(lib ${DATAKIT_PRIVATE_LIBS})
    if(TARGET ${lib})
      target_include_directories(datakit SYSTEM PRIVATE $<TARGET_PROPERTY:${lib},INTERFACE_INCLUDE_DIRECTORIES>)
      target_compile_definitions(datakit PRIVATE $<TARGET_PROPERTY:${lib},INTERFACE_COMPILE_DEFINITIONS>)
      target_compile_options(datakit PRIVATE $<TARGET_PROPERTY:${lib},INTERFACE_COMPILE_OPTIONS>)
    endif()
  endforeach()
  engine_link_files(datakit_link_files ${DATAKIT_PRIVATE_LIBS})
  target_link_libraries(datakit PRIVATE ${datakit_link_files})
  install(TARGETS datakit EXPORT EngineTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/tools/datakit
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Engine
    FILES_MATCHING PATTERN "*.h")
endif()

# The device modules are whatever loadable modules Devices/ builds; the engine finds them by name
# beside the library, so they need no package entry.
if(EXISTS ${PROJECT_SOURCE_DIR}/Devices/CMakeLists.txt)
  get_property(device_dirs DIRECTORY ${PROJECT_SOURCE_DIR}/Devices PROPERTY SUBDIRECTORIES)
  foreach(dir ${device_dirs})
    get_property(dir_targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${dir_targets})
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "MODULE_LIBRARY")
        install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
      endif()
    endforeach()
  endforeach()
endif()

if(TARGET EngineHost)
  # The installed host finds the installed libEngine.so through a path relative to itself.
  file(RELATIVE_PATH bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(EngineHost PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
  install(TARGETS EngineHost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The CMake package, installed, and in the build folder for find_package(Engine) pointed there
# (the targets of the build tree: its libEngine.so, the headers in the source tree).
install(EXPORT EngineTargets NAMESPACE Engine:: DESTINATION ${ENGINE_CMAKE_DIR})
export(EXPORT EngineTargets NAMESPACE Engine:: FILE ${PROJECT_BINARY_DIR}/EngineTargets.cmake)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/EngineConfig.cmake.in
  ${PROJECT_BINARY_DIR}/EngineConfig.cmake
  INSTALL_DESTINATION ${ENGINE_CMAKE_DIR})
# The soname changes with the minor version: only the same major.minor will do.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/EngineConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/EngineConfig.cmake ${PROJECT_BINARY_DIR}/EngineConfigVersion.cmake
  DESTINATION ${ENGINE_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so an installed tree may move.
file(RELATIVE_PATH ENGINE_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ENGINE_PC_PREFIX "${ENGINE_PC_PREFIX}")
file(RELATIVE_PATH ENGINE_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH ENGINE_PC_INCLUDEDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/engine.pc.in ${PROJECT_BINARY_DIR}/engine.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/engine.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
