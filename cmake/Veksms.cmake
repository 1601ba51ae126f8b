# One static library per folder of src/. Sources are every .cc file below the
# folder, so adding a file never means editing a build file.
#
#   veksms_library(<folder> [DEPS <targets...>])   -> target veksms_<folder>
function(veksms_library folder)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  string(REPLACE "/" "_" name "${folder}")
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cc")
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM srcs "${CMAKE_CURRENT_SOURCE_DIR}/${ex}")
  endforeach()
  if(srcs)
    add_library(veksms_${name} STATIC ${srcs})
    target_include_directories(veksms_${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(veksms_${name} PUBLIC ${ARG_DEPS})
  else()
    # A folder whose first sources have not landed yet.
    add_library(veksms_${name} INTERFACE)
    target_include_directories(veksms_${name} INTERFACE "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(veksms_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# One GoogleTest program per folder of tests/: every .cc below the folder
# (the *_test.cc files and their helpers).
#
#   veksms_tests(<folder> DEPS <targets...>)   -> program <folder>_tests
function(veksms_tests folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  string(REPLACE "/" "_" name "${folder}")
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cc")
  if(NOT srcs)
    return()
  endif()
  add_executable(${name}_tests ${srcs})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} veksms_test_support
                        GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}_tests
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300)
  # The service tests run the gateway program: they need it built.
  if(name STREQUAL "service")
    add_dependencies(${name}_tests veksms)
  endif()
endfunction()

# One libFuzzer program per fuzz/<name>_fuzz.cc.
function(veksms_fuzzer name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name}_fuzz "${CMAKE_CURRENT_SOURCE_DIR}/${name}_fuzz.cc")
  target_link_libraries(${name}_fuzz PRIVATE ${ARG_DEPS})
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzzers ${name}_fuzz)
endfunction()
