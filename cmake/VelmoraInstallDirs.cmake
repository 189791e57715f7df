# Installed programs (the velmora command and whatever else installs an executable) find the
# library relative to themselves, so an install tree works from any prefix. Where the library
# lands in a directory the loader searches anyway (/usr/lib/<triplet> for the Debian packages),
# they carry no RUNPATH at all. The library itself never carries one (its target clears it).
#
# VELMORA_LIBDIR_SEARCHED tells other installed binaries (the Python module) the same: ON when
# the library's directory is one the loader searches, so that they need no RUNPATH either.
set(_velmora_loader_dirs ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES}
                         ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
if("${CMAKE_INSTALL_FULL_LIBDIR}" IN_LIST _velmora_loader_dirs)
  set(VELMORA_LIBDIR_SEARCHED ON)
else()
  set(VELMORA_LIBDIR_SEARCHED OFF)
endif()
unset(_velmora_loader_dirs)
if(NOT DEFINED CMAKE_INSTALL_RPATH)
  if(NOT VELMORA_LIBDIR_SEARCHED)
    file(RELATIVE_PATH _velmora_bin_to_lib
      "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
    set(CMAKE_INSTALL_RPATH "$ORIGIN/${_velmora_bin_to_lib}")
  endif()
  unset(_velmora_bin_to_lib)
endif()
