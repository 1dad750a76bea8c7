# Warnings (as errors by default) for the project's own targets only; sanitizers for everything.
function(morvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wno-unused-parameter)
  if(MORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(MORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(MORVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

find_program(MORVANE_CCACHE ccache)
if(MORVANE_CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${MORVANE_CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${MORVANE_CCACHE})
endif()
