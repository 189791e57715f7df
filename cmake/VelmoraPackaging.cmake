# Installation beside the CMake package (pkg-config file, copyright and changelog) and the Debian
# packages made from the install components.
#
# Components and their packages:
#   lib    -> libvelmora1          the shared library
#   dev    -> libvelmora-dev       headers, the .so link, the CMake package, velmora.pc
#   tools  -> velmora-tools        the velmora command
#   sim    -> libvelmora-sim-dev   the simulated hands (velmora::sim)
#   python -> python3-velmora      the Python module
# An install() rule joins a package by naming its component (COMPONENT tools, ...).

set(VELMORA_DEB_VERSION "${PROJECT_VERSION}-${VELMORA_PACKAGE_RELEASE}")

configure_file(${PROJECT_SOURCE_DIR}/cmake/velmora.pc.in ${PROJECT_BINARY_DIR}/velmora.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velmora.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)

set(_velmora_components lib dev tools sim python)
set(_velmora_package_lib libvelmora1)
set(_velmora_package_dev libvelmora-dev)
set(_velmora_package_tools velmora-tools)
set(_velmora_package_sim libvelmora-sim-dev)
set(_velmora_package_python python3-velmora)

# CPack is set up once every directory has added its install rules, so that the packages are
# made from whatever components exist (python3-velmora only when the module is built).
function(_velmora_setup_cpack)
  # pip builds a Python package, not Debian packages: nothing of theirs goes into it.
  if(SKBUILD)
    return()
  endif()
  get_cmake_property(present COMPONENTS)
  set(packaged "")
  foreach(component IN LISTS _velmora_components)
    if(component IN_LIST present)
      list(APPEND packaged ${component})
    endif()
  endforeach()
  foreach(component IN LISTS present)
    if(NOT component IN_LIST _velmora_components)
      message(WARNING "velmora: files of install component '${component}' go into no package; "
                      "name one of: ${_velmora_components}")
    endif()
  endforeach()

  # Every package carries its copyright file and changelog and, where a lintian finding is a
  # deliberate choice, an override saying why. Only installed as part of a component (CPack).
  find_program(VELMORA_GZIP gzip)
  set(docs ${PROJECT_BINARY_DIR}/packaging)
  string(TIMESTAMP VELMORA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  foreach(component IN LISTS packaged)
    set(package ${_velmora_package_${component}})
    set(VELMORA_CHANGELOG_PACKAGE ${package})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in
      ${docs}/${package}/changelog.Debian @ONLY)
    if(VELMORA_GZIP)
      execute_process(COMMAND ${VELMORA_GZIP} -9nf changelog.Debian
        WORKING_DIRECTORY ${docs}/${package})
      install(FILES ${docs}/${package}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component}
        EXCLUDE_FROM_ALL)
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component}
      EXCLUDE_FROM_ALL)
    # One override per line (no semicolons in these files: they are read as CMake lists).
    file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/lintian/common lines)
    if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/lintian/${package})
      file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/lintian/${package} own)
      list(APPEND lines ${own})
    endif()
    set(overrides "")
    foreach(line IN LISTS lines)
      if(line MATCHES "^#")
        string(APPEND overrides "${line}\n")
      else()
        string(APPEND overrides "${package}: ${line}\n")
      endif()
    endforeach()
    file(WRITE ${docs}/${package}/lintian-overrides "${overrides}")
    install(FILES ${docs}/${package}/lintian-overrides
      DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${package}
      COMPONENT ${component} EXCLUDE_FROM_ALL)
  endforeach()
  if(VELMORA_GZIP AND "tools" IN_LIST packaged)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/velmora.1 ${docs}/velmora.1 COPYONLY)
    execute_process(COMMAND ${VELMORA_GZIP} -9nf velmora.1 WORKING_DIRECTORY ${docs})
    install(FILES ${docs}/velmora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
      COMPONENT tools EXCLUDE_FROM_ALL)
  endif()

  set(CPACK_PACKAGE_NAME velmora)
  set(CPACK_PACKAGE_VENDOR "velmora developers")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  # Each package's description starts with its own synopsis; the summary CPack would put in
  # front of every one is left at the value it takes as "not set".
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
  set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_COMPONENTS_ALL ${packaged})
  set(CPACK_DEB_COMPONENT_INSTALL ON)

  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELMORA_PACKAGE_RELEASE})
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELMORA_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The velmora command and the Python module link the library of this very build, which
  # dpkg-shlibdeps finds here; their dependency on libvelmora1 is stated below.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

  set(same_version "(= ${VELMORA_DEB_VERSION})")
  set(intro "velmora drives dexterous robot hands from Linux applications over a CAN bus\n(SocketCAN).")

  set(CPACK_DEBIAN_LIB_PACKAGE_NAME libvelmora1)
  set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/control/libvelmora1/triggers)
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_LIB_DESCRIPTION
    "C++ SDK for dexterous robot hands on a CAN bus\n${intro}\n\nThis package holds the shared library.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvelmora-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libvelmora1 ${same_version}")
  set(CPACK_DEBIAN_DEV_DESCRIPTION
    "C++ SDK for dexterous robot hands on a CAN bus - development files\n${intro}\n\nThis package holds the headers, the CMake package (find_package(velmora))\nand the pkg-config file (velmora.pc).")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME velmora-tools)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libvelmora1 ${same_version}")
  set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "command-line tool for velmora robot hands\n${intro}\n\nThis package holds the velmora command: a demo that drives a simulated hand\nof every model, and a simulated hand that answers on a CAN interface.")

  set(CPACK_DEBIAN_SIM_PACKAGE_NAME libvelmora-sim-dev)
  set(CPACK_DEBIAN_SIM_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "libvelmora-dev ${same_version}")
  set(CPACK_DEBIAN_SIM_DESCRIPTION
    "simulated robot hands for testing velmora applications\n${intro}\n\nThis package holds a static library of simulated hands of every model\n(find_package(velmora COMPONENTS sim), target velmora::sim), to test an\napplication against a hand on an in-process virtual bus or a vcan interface.")

  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-velmora)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  # A compiled module is built for one Python version: the interpreter it was built with.
  set(python "python3")
  if(DEFINED Python3_VERSION_MINOR)
    math(EXPR next "${Python3_VERSION_MINOR} + 1")
    set(python "python3 (>= 3.${Python3_VERSION_MINOR}), python3 (<< 3.${next})")
  endif()
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libvelmora1 ${same_version}, ${python}")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
    "Python bindings of the velmora robot hand SDK\n${intro}\n\nThis package holds the Python 3 module velmora.")

  include(CPack)
endfunction()
# Only where velmora is the project being built: a parent project's packaging is its own.
if(VELMORA_TOP_LEVEL)
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _velmora_setup_cpack)
endif()

# Every public header compiles on its own (and twice in a row), strictly: one generated source
# per header, built with the tests.
if(VELMORA_BUILD_TESTS)
  file(GLOB _velmora_headers RELATIVE ${PROJECT_SOURCE_DIR}/include CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/include/velmora/*.h)
  # Generated ones (velmora/Version.h) too.
  file(GLOB _velmora_generated_headers RELATIVE ${PROJECT_BINARY_DIR}/include
    ${PROJECT_BINARY_DIR}/include/velmora/*.h)
  list(APPEND _velmora_headers ${_velmora_generated_headers})
  if(TARGET velmora_sim)
    file(GLOB _velmora_sim_headers RELATIVE ${PROJECT_SOURCE_DIR}/sim/include CONFIGURE_DEPENDS
      ${PROJECT_SOURCE_DIR}/sim/include/velmora/sim/*.h)
    list(APPEND _velmora_headers ${_velmora_sim_headers})
  endif()
  set(_velmora_header_sources "")
  foreach(header IN LISTS _velmora_headers)
    string(MAKE_C_IDENTIFIER "${header}" name)
    set(source ${PROJECT_BINARY_DIR}/header_check/${name}.cpp)
    file(CONFIGURE OUTPUT ${source} CONTENT "#include <${header}>\n#include <${header}>\n")
    list(APPEND _velmora_header_sources ${source})
  endforeach()
  add_library(velmora_header_check OBJECT ${_velmora_header_sources})
  target_link_libraries(velmora_header_check PRIVATE velmora::velmora_cpp_sdk
    $<$<TARGET_EXISTS:velmora_sim>:velmora::sim>)
  target_compile_options(velmora_header_check PRIVATE -Wall -Wextra -Wpedantic -Werror)
  set_target_properties(velmora_header_check PROPERTIES CXX_EXTENSIONS OFF)
  unset(_velmora_headers)
  unset(_velmora_generated_headers)
  unset(_velmora_sim_headers)
  unset(_velmora_header_sources)
endif()
