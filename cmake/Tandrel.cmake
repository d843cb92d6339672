# Helpers that keep the subsystem folders free of per-file build lists:
# every .cpp below a subsystem folder belongs to its library, every
# *_test.cpp below tests/<subsystem> to its test program, and every
# fuzz/<name>_fuzz.cpp is a libFuzzer target run over fuzz/corpus/<name>.

set(TANDREL_ALL_LIBS "")

function(tandrel_subsystem name)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${name}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  set(deps "")
  foreach(dep ${ARGN})
    if(TARGET ${dep})
      list(APPEND deps ${dep})
    endif()
  endforeach()
  target_link_libraries(${name} PUBLIC ${deps} Threads::Threads)
  set(TANDREL_ALL_LIBS ${name} ${TANDREL_ALL_LIBS} PARENT_SCOPE)
endfunction()

# The test-support library (tests/support/*.cpp): scratch directories,
# output capture, fake and loopback sockets, byte builders, daemons on a
# port of their own. Every test program and fuzz target links it.
function(tandrel_test_support)
  if(TARGET test_support)
    return()
  endif()
  find_package(GTest REQUIRED)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
  add_library(test_support STATIC ${srcs})
  target_include_directories(test_support PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(test_support PUBLIC ${TANDREL_ALL_LIBS} GTest::gmock Threads::Threads)
  target_compile_definitions(test_support PRIVATE
    TANDREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TANDREL_BINARY_DIR="${CMAKE_BINARY_DIR}")
endfunction()

# Test programs: tests/<sub>/**/*_test.cpp -> <sub>_tests; files named
# *_mt_test.cpp exercise threads and form <sub>_mt_tests, which the
# ThreadSanitizer build runs on its own. *_fixture.cpp are shared helpers.
function(tandrel_test_program exe sub)
  file(GLOB_RECURSE helpers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${sub}/*_fixture.cpp)
  add_executable(${exe} ${ARGN} ${helpers})
  target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${exe} PRIVATE ${sub} test_support ${TANDREL_ALL_LIBS} GTest::gmock GTest::gtest_main)
  target_compile_definitions(${exe} PRIVATE
    TANDREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TANDREL_BINARY_DIR="${CMAKE_BINARY_DIR}")
  # Table cases keep their index (or their own name) in the test name: a
  # printed table row holds pointers, which differ from run to run.
  gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    NO_PRETTY_VALUES PROPERTIES TIMEOUT 300)
endfunction()

function(tandrel_tests)
  tandrel_test_support()
  include(GoogleTest)
  foreach(sub v4ada core overlay downloads transfer console)
    if(NOT TARGET ${sub})
      continue()
    endif()
    file(GLOB_RECURSE all CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${sub}/*_test.cpp)
    file(GLOB_RECURSE mt CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${sub}/*_mt_test.cpp)
    set(plain ${all})
    if(mt)
      list(REMOVE_ITEM plain ${mt})
    endif()
    if(plain AND NOT TANDREL_TSAN)
      tandrel_test_program(${sub}_tests ${sub} ${plain})
    endif()
    if(mt)
      tandrel_test_program(${sub}_mt_tests ${sub} ${mt})
    endif()
  endforeach()
endfunction()

# Script tests: tests/<sub>/**/*_test.py run with python3 against the built
# program (standard library only), in the sanitizer build's ctest run.
function(tandrel_script_tests)
  if(TANDREL_TSAN OR NOT TARGET tandrel)
    return()
  endif()
  file(GLOB_RECURSE scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.py)
  if(NOT scripts)
    return()
  endif()
  find_program(TANDREL_PYTHON3 python3 REQUIRED)
  foreach(script ${scripts})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${script})
    string(REGEX REPLACE "\\.py$" "" name ${rel})
    string(REPLACE "/" "." name ${name})
    add_test(NAME script.${name}
      COMMAND ${TANDREL_PYTHON3} ${script} --tandrel $<TARGET_FILE:tandrel>)
    set_tests_properties(script.${name} PROPERTIES TIMEOUT 600)
    # The scripts of tests/swarm run whole instances for minutes: started
    # first, they end with the rest.
    if(name MATCHES "^swarm\\.")
      set_tests_properties(script.${name} PROPERTIES COST 10000)
    endif()
  endforeach()
endfunction()

function(tandrel_fuzz_targets)
  tandrel_test_support()
  file(GLOB targets CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
  foreach(src ${targets})
    get_filename_component(base ${src} NAME_WE)
    string(REGEX REPLACE "_fuzz$" "" name ${base})
    add_executable(${base} ${src})
    target_include_directories(${base} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${base} PRIVATE test_support ${TANDREL_ALL_LIBS})
    target_link_options(${base} PRIVATE -fsanitize=fuzzer)
    set(corpus ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
    set(work ${CMAKE_BINARY_DIR}/fuzz-work/${name})
    # Fuzz into a scratch copy so the committed seeds stay as they are.
    add_test(NAME fuzz.${name}
      COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${base}> -DCORPUS=${corpus}
              -DWORK=${work} -DRUNS=${TANDREL_FUZZ_RUNS}
              -P ${CMAKE_SOURCE_DIR}/cmake/RunFuzz.cmake)
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 600)
  endforeach()
endfunction()

# Benchmarks: bench/<name>_bench.cpp -> <name>_bench in <build>/bench/.
# Plain programs of the normal configuration only (no sanitizer, no
# fuzzing): they are not tests, so the test command never runs them.
# Their figures mean something only from a release build (build/release).
function(tandrel_benchmarks)
  if(TANDREL_SANITIZE OR TANDREL_TSAN OR TANDREL_FUZZ)
    return()
  endif()
  file(GLOB benches CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*_bench.cpp)
  foreach(src ${benches})
    get_filename_component(base ${src} NAME_WE)
    add_executable(${base} ${src})
    target_include_directories(${base} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${base} PRIVATE ${TANDREL_ALL_LIBS})
    set_target_properties(${base} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  endforeach()
endfunction()
