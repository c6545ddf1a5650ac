# Compiler, warnings and the sanitizer build.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

option(TELVANA_BUILD_TESTS "Build the test suite" ON)
option(TELVANA_BUILD_BENCHMARKS "Build the benchmarks" ON)
option(TELVANA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(TELVANA_FUZZ "Build libFuzzer targets (clang only)" OFF)

add_compile_options(-Wall -Wextra -Wpedantic)
if(TELVANA_SANITIZE)
  # The vptr check misreads the web engine's own objects (built without our type information)
  # when it tears down its script VM, so it stays off.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize=vptr -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
