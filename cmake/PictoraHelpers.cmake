# pictora_library(NAME SOURCES... [DEPENDS targets...])
# Declares one layer's static library. Headers are included as "layer/Header.h"
# from the repository root.
function(pictora_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
endfunction()

# pictora_header_library(NAME HEADERS... [DEPENDS targets...])
# Declares a library of headers only, as a header set. Headers are included as "layer/Header.h"
# from the repository root, as with pictora_library.
function(pictora_header_library name)
  cmake_parse_arguments(ARG "" "" "HEADERS;DEPENDS" ${ARGN})
  add_library(${name} INTERFACE)
  target_sources(${name} INTERFACE FILE_SET HEADERS BASE_DIRS ${PROJECT_SOURCE_DIR} FILES ${ARG_HEADERS})
  target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
endfunction()

# pictora_test(NAME SOURCES... DEPENDS targets... [CONCURRENCY])
# One GoogleTest binary registered with CTest, its cases discovered one by one. CONCURRENCY
# labels its cases "concurrency" and adds the binary to the target concurrency_tests, which the
# ThreadSanitizer build makes.
function(pictora_test name)
  cmake_parse_arguments(ARG "CONCURRENCY" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  set(properties TIMEOUT 120)
  if(ARG_CONCURRENCY)
    list(APPEND properties LABELS concurrency)
    if(NOT TARGET concurrency_tests)
      add_custom_target(concurrency_tests)
    endif()
    add_dependencies(concurrency_tests ${name})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()

# pictora_fuzz_target(NAME SOURCES... DEPENDS targets...)
# A libFuzzer target over the (instrumented) libraries it depends on.
function(pictora_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
endfunction()
