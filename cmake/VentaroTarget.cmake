# Common settings for every target of the project: warnings, include root, sanitizers.
set(VENTARO_WARNINGS -Wall -Wextra -Wpedantic)

if(VENTARO_SANITIZE)
  # Applied to every target, so that libraries, tests and tools agree on the runtime.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(ventaro_target_defaults target)
  target_compile_options(${target} PRIVATE ${VENTARO_WARNINGS})
endfunction()

# A static library of the project; sources relative to the calling folder.
function(ventaro_library target)
  add_library(${target} STATIC ${ARGN})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  ventaro_target_defaults(${target})
endfunction()

# A GoogleTest executable registered with CTest; sources relative to the calling folder.
# PROPERTIES adds test properties to every test it holds (for example a longer TIMEOUT).
function(ventaro_test target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PROPERTIES")
  add_executable(${target} ${arg_UNPARSED_ARGUMENTS})
  ventaro_target_defaults(${target})
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "VENTARO_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                                  ${arg_PROPERTIES})
endfunction()
