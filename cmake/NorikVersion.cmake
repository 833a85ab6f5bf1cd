# SPDX-License-Identifier: GPL-3.0-or-later
# NORIK_VERSION_FULL: the release number given to project(), plus, when this is a git checkout that is not
# exactly the release's tag "v<release>", where the checkout stands: commits since that tag (since the first
# commit when there is none), the commit, and whether the work tree had changes. Debian and apt order
# "0.1.0+git12.gabc1234" after "0.1.0" and before "0.1.1". The update check compares the plain release number,
# the only part an update feed can name.
set(NORIK_VERSION_FULL "${PROJECT_VERSION}")

find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
    execute_process(
        COMMAND "${GIT_EXECUTABLE}" describe --tags --match "v${PROJECT_VERSION}" --long --dirty --always
        WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
        OUTPUT_VARIABLE description
        RESULT_VARIABLE describe_failed
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT describe_failed)
        set(dirty "")
        if(description MATCHES "-dirty$")
            set(dirty ".dirty")
            string(REGEX REPLACE "-dirty$" "" description "${description}")
        endif()
        if(description MATCHES "^v${PROJECT_VERSION}-([0-9]+)-g([0-9a-f]+)$")
            set(distance "${CMAKE_MATCH_1}")
            set(commit "${CMAKE_MATCH_2}")
        else()
            set(commit "${description}")
            execute_process(
                COMMAND "${GIT_EXECUTABLE}" rev-list --count HEAD
                WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                OUTPUT_VARIABLE distance
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        endif()
        if(NOT distance STREQUAL "0" OR dirty)
            set(NORIK_VERSION_FULL "${PROJECT_VERSION}+git${distance}.g${commit}${dirty}")
        endif()

        # A commit or a checkout moves HEAD and appends to its log: configure again, so the version follows.
        execute_process(
            COMMAND "${GIT_EXECUTABLE}" rev-parse --path-format=absolute --git-path logs/HEAD
            WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
            OUTPUT_VARIABLE head_log
            OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(head_log AND EXISTS "${head_log}")
            set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_log}")
        endif()
    endif()
endif()
message(STATUS "Norik version: ${NORIK_VERSION_FULL}")
