# Shared build settings and helpers for every folder.

set(TONALIS_WARNINGS -Wall -Wextra)

if(TONALIS_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
if(TONALIS_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# The staged program data, so programs run from the build tree find their defaults.
set(TONALIS_STAGED_SHARE ${CMAKE_SOURCE_DIR}/share/tonalis)

# tonalis_add_library(<name> SOURCES ... [DEPS ...])
# One library target per folder, named tonalis_<name>, with the project root on its include path.
function(tonalis_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(tonalis_${name} STATIC ${ARG_SOURCES})
    target_include_directories(tonalis_${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_options(tonalis_${name} PRIVATE ${TONALIS_WARNINGS})
    target_link_libraries(tonalis_${name} PUBLIC ${ARG_DEPS})
endfunction()

# tonalis_add_test(<name> SOURCES ... [DEPS ...] [LABELS ...] [TIMEOUT s])
# A GoogleTest executable whose main runs inside a QCoreApplication.
function(tonalis_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE ${TONALIS_WARNINGS})
    target_link_libraries(${name} PRIVATE tonalis_testmain ${ARG_DEPS})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "TONALIS_SOURCE_DIR=${CMAKE_SOURCE_DIR};QT_QPA_PLATFORM=offscreen")
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
