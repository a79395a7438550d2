# VANTLE_SANITIZE instruments every target of the build, the simulated device's tools included: they
# are Vantle's own code, and the tests run them as child processes.
#   address  AddressSanitizer (leak checking included) and UndefinedBehaviorSanitizer; undefined
#            behaviour is fatal at its first report
#   thread   ThreadSanitizer
# Both are meant for a build folder of their own; scripts/sanitize builds one and runs the tests.
set(VANTLE_SANITIZE "" CACHE STRING "Sanitizers for every target: address (with undefined behaviour) or thread")
set_property(CACHE VANTLE_SANITIZE PROPERTY STRINGS "" address thread)

# For a test on an X server (Qt's xcb platform, Mesa's software OpenGL): there libdbus and Mesa's
# driver keep four allocations (1.2 kB) to the exit, the driver's made by code already unloaded then,
# so no suppression can name them. Leak checking is off for these runs only; the same Vantle code
# runs with it in their offscreen twins, and AddressSanitizer's other checks stay on.
function(vantle_x11_test name)
  if(VANTLE_SANITIZE STREQUAL "address")
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::detect_leaks=0")
  endif()
endfunction()

# For a test whose exit LeakSanitizer cannot scan: GCC 12's runtime crashes while it reads the
# threads' dynamic TLS there ("Tracer caught signal 11" in apk_tests, every run, once enough Qt
# plugins and pool threads are about). Such a run leaves TLS out of the roots; what it then finds
# only through TLS is glib's thread-private data (suppressed in lsan.supp). Leaks stay checked.
function(vantle_leaks_without_tls name)
  if(VANTLE_SANITIZE STREQUAL "address")
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT_MODIFICATION "LSAN_OPTIONS=string_append::use_tls=0")
  endif()
endfunction()

if(VANTLE_SANITIZE STREQUAL "")
  return()
elseif(VANTLE_SANITIZE STREQUAL "address")
  set(vantle_sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(VANTLE_SANITIZE STREQUAL "thread")
  set(vantle_sanitizer_flags -fsanitize=thread)
else()
  message(FATAL_ERROR "VANTLE_SANITIZE is \"${VANTLE_SANITIZE}\"; use address or thread")
endif()
if(VANTLE_BUILD_FUZZ)
  message(FATAL_ERROR "VANTLE_BUILD_FUZZ brings its own sanitizers; build it without VANTLE_SANITIZE")
endif()
# Frame pointers keep the reports' stacks whole at every optimisation level.
add_compile_options(${vantle_sanitizer_flags} -fno-omit-frame-pointer)
add_link_options(${vantle_sanitizer_flags})
