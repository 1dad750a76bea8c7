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

# The fuzzers need clang: the project's code is built with the fuzzer's coverage instrumentation
# (fuzzer-no-link) and with AddressSanitizer and UndefinedBehaviorSanitizer, so that a fault
# stops the fuzzer at once; only the fuzzer programs link libFuzzer itself (see fuzz/).
if(MORVANE_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "MORVANE_BUILD_FUZZ needs clang (configure with CXX=clang++ CC=clang)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

find_program(MORVANE_CCACHE ccache)
if(MORVANE_CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${MORVANE_CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${MORVANE_CCACHE})
endif()
