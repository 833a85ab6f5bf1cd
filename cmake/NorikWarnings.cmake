# SPDX-License-Identifier: GPL-3.0-or-later
# Warnings and sanitizers as interface targets, linked per target rather than set globally.
add_library(norik_warnings INTERFACE)
target_compile_options(norik_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(NORIK_WARNINGS_AS_ERRORS)
    target_compile_options(norik_warnings INTERFACE -Werror)
endif()

add_library(norik_sanitizers INTERFACE)
if(NORIK_SANITIZE)
    target_compile_options(norik_sanitizers INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all
                                                      -fno-omit-frame-pointer)
    target_link_options(norik_sanitizers INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

add_library(norik_build INTERFACE)
target_link_libraries(norik_build INTERFACE norik_warnings norik_sanitizers)
target_include_directories(norik_build INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/src)

# Coverage instrumentation for every library the fuzz targets link, so libFuzzer sees inside them.
if(NORIK_BUILD_FUZZ)
    target_compile_options(norik_sanitizers INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
    target_link_options(norik_sanitizers INTERFACE -fsanitize=address,undefined)
endif()
