# Compiler flags shared by every target of the project.

# ENGINE_WERROR turns every warning of the project's own code into an error (scripts/test builds
# with it, so that the build stays warning-free).
function(engine_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${ENGINE_WERROR}>:-Werror>)
endfunction()

if(ENGINE_SANITIZE AND ENGINE_TSAN)
  message(FATAL_ERROR "ENGINE_SANITIZE and ENGINE_TSAN cannot be combined")
endif()

if(ENGINE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(ENGINE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(ENGINE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ENGINE_FUZZ needs Clang")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
