include(GoogleTest)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

# qv_gtest(name SOURCES ... [LIBS ...] [LABELS unit|e2e|slow ...] [TIMEOUT s])
# One GoogleTest executable; every test case becomes a CTest test with the labels.
function(qv_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    # The discovery script splits every list in PROPERTIES into separate arguments, so each
    # variable goes in a property of its own: a list would set only its first variable.
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "SDL_VIDEODRIVER=dummy"
               ENVIRONMENT_MODIFICATION "SDL_AUDIODRIVER=set:dummy")
endfunction()
