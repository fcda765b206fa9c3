# Leaks fail the sanitizer build's tests; only libraries that keep their state until exit are let pass.
set(VELLUMIX_SANITIZER_ENV
    "ASAN_OPTIONS=detect_leaks=1;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")

# Compiler settings shared by every target that holds our own code.
function(vellumix_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(VELLUMIX_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# A static library for one subsystem folder.
function(vellumix_add_library target)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${target} STATIC ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_LIBS})
    vellumix_target_defaults(${target})
endfunction()

# One QtTest executable registered with ctest.
#   X11: the test needs a real X server; it runs under tests/x11/run-with-xvfb
#        (Xvfb plus openbox, both stopped afterwards) and carries the label x11.
#   WAYLAND: the test needs a Wayland compositor; it runs under tests/wayland/run-with-sway (a private
#        headless sway with Xwayland, as an unprivileged user when run as root; skipped where sway
#        cannot run) and carries the label wayland. Its own windows use the offscreen platform.
#   Other tests run in-process on the offscreen platform.
function(vellumix_add_test name)
    cmake_parse_arguments(ARG "X11;WAYLAND" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        VELLUMIX_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
        VELLUMIX_BIN_DIR="${VELLUMIX_BIN_DIR}")
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    vellumix_target_defaults(${name})
    set(labels ${ARG_LABELS})
    if(ARG_X11)
        add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/x11/run-with-xvfb $<TARGET_FILE:${name}>)
        list(APPEND labels x11)
        set(env "QT_QPA_PLATFORM=xcb")
    elseif(ARG_WAYLAND)
        add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/wayland/run-with-sway $<TARGET_FILE:${name}>)
        list(APPEND labels wayland)
        set(env "QT_QPA_PLATFORM=offscreen")
        set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
    else()
        add_test(NAME ${name} COMMAND ${name})
        list(APPEND labels unit)
        set(env "QT_QPA_PLATFORM=offscreen")
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        LABELS "${labels}"
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "${env};QT_LOGGING_RULES=qt.qpa.*=false;${VELLUMIX_SANITIZER_ENV}")
endfunction()
