# Decides which optional parts are built. Each one is on when its VELMORA_BUILD_* option is on
# and the packages it needs are found; otherwise it says in one status line why it is off. The
# library itself needs only the compiler, CMake and the threads library.
#
# Sets VELMORA_WITH_SIM, VELMORA_WITH_TOOLS, VELMORA_WITH_TESTS, VELMORA_WITH_EXAMPLES and
# VELMORA_WITH_BENCHMARKS.

function(_velmora_part_off what why)
  message(STATUS "velmora: ${what} off (${why})")
endfunction()

# Simulated hands: the library and the C++ standard library only.
set(VELMORA_WITH_SIM ${VELMORA_BUILD_SIM})
if(NOT VELMORA_WITH_SIM)
  _velmora_part_off("simulated hands and the velmora command" "VELMORA_BUILD_SIM=OFF")
endif()

# The velmora command: the simulated hands and these packages, as CMakePackage=debian-package.
set(VELMORA_TOOLS_NEEDS CLI11=libcli11-dev nlohmann_json=nlohmann-json3-dev Curses=libncurses-dev)
set(VELMORA_WITH_TOOLS OFF)
if(VELMORA_WITH_SIM AND NOT VELMORA_BUILD_TOOLS)
  _velmora_part_off("the velmora command and the bridge" "VELMORA_BUILD_TOOLS=OFF")
elseif(VELMORA_WITH_SIM)
  set(_velmora_missing "")
  foreach(_velmora_need IN LISTS VELMORA_TOOLS_NEEDS)
    string(REPLACE "=" ";" _velmora_need "${_velmora_need}")
    list(GET _velmora_need 0 _velmora_cmake_name)
    list(GET _velmora_need 1 _velmora_debian_name)
    find_package(${_velmora_cmake_name} QUIET)
    if(NOT ${_velmora_cmake_name}_FOUND)
      list(APPEND _velmora_missing ${_velmora_debian_name})
    endif()
  endforeach()
  if(_velmora_missing)
    list(JOIN _velmora_missing " " _velmora_missing)
    _velmora_part_off("the velmora command" "not found: apt install ${_velmora_missing}")
  else()
    set(VELMORA_WITH_TOOLS ON)
  endif()
  unset(_velmora_missing)
  unset(_velmora_need)
  unset(_velmora_cmake_name)
  unset(_velmora_debian_name)
endif()

set(VELMORA_WITH_TESTS OFF)
if(NOT VELMORA_BUILD_TESTS)
  _velmora_part_off("tests" "VELMORA_BUILD_TESTS=OFF")
else()
  find_package(GTest QUIET)
  if(GTest_FOUND AND TARGET GTest::gmock)
    set(VELMORA_WITH_TESTS ON)
  else()
    _velmora_part_off("tests"
      "GoogleTest/GoogleMock not found: apt install libgtest-dev libgmock-dev")
  endif()
endif()

set(VELMORA_WITH_EXAMPLES OFF)
if(NOT VELMORA_BUILD_EXAMPLES)
  _velmora_part_off("examples" "VELMORA_BUILD_EXAMPLES=OFF")
elseif(NOT VELMORA_WITH_SIM)
  _velmora_part_off("examples" "they drive a simulated hand, and VELMORA_BUILD_SIM=OFF")
else()
  set(VELMORA_WITH_EXAMPLES ON)
endif()

set(VELMORA_WITH_BENCHMARKS OFF)
if(NOT VELMORA_BUILD_BENCHMARKS)
  _velmora_part_off("benchmarks" "VELMORA_BUILD_BENCHMARKS=OFF")
else()
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    set(VELMORA_WITH_BENCHMARKS ON)
  else()
    _velmora_part_off("benchmarks" "Google Benchmark not found: apt install libbenchmark-dev")
  endif()
endif()
