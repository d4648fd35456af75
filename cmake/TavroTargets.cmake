# Helpers that keep every subsystem's build rules alike: a library is the
# sources of its folder, a test suite is the test sources of its folder.

set(TAVRO_MPIEXEC "${MPIEXEC_EXECUTABLE}" CACHE FILEPATH "mpiexec used by the tests")
# The tests run jobs of three processes with two threads each on machines of
# two cores. Threads that wait for work sleep instead of spinning, so that an
# oversubscribed job does not starve the very process it waits for.
set(TAVRO_TEST_WAIT_POLICY "OMP_WAIT_POLICY=passive")

# tavro_add_library(<name> [DEPENDS lib...]): static library tavro_<name> from src/<name>/*.cpp
function(tavro_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(sources)
    add_library(tavro_${name} STATIC ${sources})
  else()
    add_library(tavro_${name} INTERFACE)
  endif()
  get_target_property(kind tavro_${name} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  else()
    set(scope PUBLIC)
  endif()
  target_include_directories(tavro_${name} ${scope} "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(tavro_${name} ${scope} MPI::MPI_CXX OpenMP::OpenMP_CXX)
  foreach(dep IN LISTS ARG_DEPENDS)
    target_link_libraries(tavro_${name} ${scope} tavro_${dep})
  endforeach()
endfunction()

# Test code only drives the libraries, which keep the build type's optimisation:
# compiling it at -O1 in Release builds takes far less time on small machines.
function(tavro_test_light_optimisation target)
  target_compile_options(${target} PRIVATE $<$<CONFIG:Release>:-O1>)
endfunction()

# tavro_test_build_options(<target>): a test executable's light optimisation and
# the precompiled headers (GoogleTest, MPI, the standard library) of the test support.
function(tavro_test_build_options target)
  tavro_test_light_optimisation(${target})
  target_precompile_headers(${target} REUSE_FROM tavro_test_support)
endfunction()

# tavro_add_test_suite(<name> LIBS lib...): two executables from tests/<name>/ and its folders:
#   *_test.cpp    -> tavro_<name>_tests, run once under mpiexec -n 1
#   *_mpitest.cpp -> tavro_<name>_mpitests, run under mpiexec -n 1 and -n 3
function(tavro_add_test_suite name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE serial CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  file(GLOB_RECURSE parallel CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_mpitest.cpp")
  set(libs)
  foreach(lib IN LISTS ARG_LIBS)
    list(APPEND libs tavro_${lib})
  endforeach()
  if(serial)
    add_executable(tavro_${name}_tests ${serial})
    target_link_libraries(tavro_${name}_tests PRIVATE ${libs} tavro_test_support)
    tavro_test_build_options(tavro_${name}_tests)
    add_test(NAME ${name}_np1
      COMMAND ${TAVRO_MPIEXEC} -n 1 $<TARGET_FILE:tavro_${name}_tests>)
    set_tests_properties(${name}_np1 PROPERTIES ENVIRONMENT "OMP_NUM_THREADS=2;${TAVRO_TEST_WAIT_POLICY}" TIMEOUT 600
      LABELS "${name}")
  endif()
  if(parallel)
    add_executable(tavro_${name}_mpitests ${parallel})
    target_link_libraries(tavro_${name}_mpitests PRIVATE ${libs} tavro_test_support)
    tavro_test_build_options(tavro_${name}_mpitests)
    foreach(np 1 3)
      add_test(NAME ${name}_mpi_np${np}
        COMMAND ${TAVRO_MPIEXEC} -n ${np} $<TARGET_FILE:tavro_${name}_mpitests>)
      set_tests_properties(${name}_mpi_np${np} PROPERTIES ENVIRONMENT "OMP_NUM_THREADS=2;${TAVRO_TEST_WAIT_POLICY}"
        TIMEOUT 600 PROCESSORS ${np} LABELS "${name};mpi")
    endforeach()
  endif()
endfunction()
