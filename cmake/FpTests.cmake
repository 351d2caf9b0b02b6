# fp_sources(<var> <dir>): the sources of a folder, without its tests.
function(fp_sources var dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "_test\\.cpp$")
  set(${var} ${srcs} PARENT_SCOPE)
endfunction()

# fp_add_tests(<dir> LIBS <libs...>): every <name>_test.cpp of a folder becomes the test
# program <name>_test, linked with the given libraries and GoogleMock's main.
function(fp_add_tests dir)
  if(NOT FP_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  foreach(t ${tests})
    get_filename_component(name ${t} NAME_WE)
    add_executable(${name} ${t})
    target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock_main GTest::gmock GTest::gtest Threads::Threads)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_compile_definitions(${name} PRIVATE FP_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                               FP_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
  endforeach()
endfunction()
