# Shared compile settings for every Vantle target: warnings and strict Qt string handling.
function(vantle_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_compile_definitions(${target} PRIVATE
    QT_NO_CAST_FROM_ASCII QT_NO_URL_CAST_FROM_STRING QT_NO_CONTEXTLESS_CONNECT
    QT_NO_KEYWORDS)
endfunction()

# vantle_library(NAME SOURCES ... LINKS ...): a subsystem's static library, included as <folder/File.h>.
function(vantle_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  vantle_target_defaults(${name})
endfunction()

# vantle_test(NAME SOURCES ... LINKS ...): one GoogleTest program registered with ctest. A program
# that links the simulated Android (vantle_sim*) drives it through Google's adb: its main() puts it
# in a network namespace of its own and stops the adb server it started (support/AndroidTestMain).
function(vantle_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  set(main ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
  foreach(link IN LISTS ARG_LINKS)
    if(link MATCHES "^vantle_sim")
      set(main ${PROJECT_SOURCE_DIR}/tests/support/AndroidTestMain.cpp)
    endif()
  endforeach()
  add_executable(${name} ${ARG_SOURCES} ${main})
  if(VANTLE_SANITIZE STREQUAL "thread")
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/sanitizers/ThreadPoolHandoff.cpp)
    target_link_libraries(${name} PRIVATE ${CMAKE_DL_LIBS})
  endif()
  if(VANTLE_SANITIZE)
    # Instrumented readers run several times slower: timings measured there say nothing.
    target_compile_definitions(${name} PRIVATE VANTLE_SANITIZED=1)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gmock)
  vantle_target_defaults(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    TIMEOUT 300)
endfunction()
