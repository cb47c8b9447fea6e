# Installing the programs, and Debian packages of everything installed:
#
#   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
#   cmake --build build && cmake --build build --target package   (or: cd build && cpack -G DEB)
#
#   libtarnby-cport<version>  the shared serial port libraries (shared builds only)
#   libtarnby-cport-dev       headers, the CMake package, pkg-config files, the
#                             static libraries of a static build, docs/cport.md
#   tarnby                    the simulator, the sensor unit emulator and the
#                             serial terminal
#
# The packages install under /usr, where the dynamic linker, find_package and
# pkg-config look without being told.

# The programs live in a folder of their own with the simulator's picture
# beside them (where the simulator looks for it), and are reached through
# links in /usr/bin named so that they say whose they are.
set(TARNBY_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/tarnby)
set(tarnby_programs)
foreach(pair tarnby:tarnby sensor_emulator:tarnby-sensor-emulator terminal:tarnby-terminal)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 target)
  list(GET pair 1 command)
  if(NOT TARGET ${target})
    continue()
  endif()
  list(APPEND tarnby_programs ${target})
  # As a target, so that the install drops the build's run path.
  install(TARGETS ${target} RUNTIME DESTINATION ${TARNBY_PROGRAM_DIR} COMPONENT programs)
  file(RELATIVE_PATH to_program /p/${CMAKE_INSTALL_BINDIR} /p/${TARNBY_PROGRAM_DIR}/${target})
  set(link ${PROJECT_BINARY_DIR}/program-links/${command})
  if(NOT IS_SYMLINK ${link})
    file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/program-links)
    file(CREATE_LINK ${to_program} ${link} SYMBOLIC)
  endif()
  install(FILES ${link} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
endforeach()
if(TARGET tarnby)
  install(FILES ${PROJECT_SOURCE_DIR}/assets/front_panel.jpg DESTINATION ${TARNBY_PROGRAM_DIR}/assets COMPONENT programs)
endif()

set(TARNBY_DEV_PACKAGE libtarnby-cport-dev)
install(FILES ${PROJECT_SOURCE_DIR}/docs/cport.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TARNBY_DEV_PACKAGE}
  COMPONENT cport)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnby)
set(CPACK_PACKAGE_VENDOR "Tarnby")
set(CPACK_PACKAGE_CONTACT "Tarnby developers <tarnby@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "QR-7 flight instrument simulator and serial port library")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)

# The runtime package exists only where there are shared libraries to put in it.
set(CPACK_COMPONENTS_ALL cport)
if(BUILD_SHARED_LIBS)
  list(PREPEND CPACK_COMPONENTS_ALL cport_runtime)
endif()
if(tarnby_programs)
  list(APPEND CPACK_COMPONENTS_ALL programs)
endif()

set(runtime_package libtarnby-cport${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
set(CPACK_DEBIAN_CPORT_RUNTIME_PACKAGE_NAME ${runtime_package})
set(CPACK_DEBIAN_CPORT_RUNTIME_PACKAGE_SECTION libs)
# Its shlibs file, and the dynamic linker's cache refreshed on install.
set(CPACK_DEBIAN_CPORT_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_CPORT_RUNTIME_DESCRIPTION
  "Tarnby serial port library: TComPort, its extras and widgets\n The shared libraries that programs built with libtarnby-cport-dev run with.")
set(CPACK_DEBIAN_CPORT_PACKAGE_NAME ${TARNBY_DEV_PACKAGE})
set(CPACK_COMPONENT_CPORT_DESCRIPTION
  "Tarnby serial port library: development files\n Headers, the CMake package TarnbyCport, pkg-config files (tarnby-cport, tarnby-cport-extras,\n tarnby-cport-extras-widgets) and the library's guide (docs/cport.md).")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME tarnby)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION misc)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
  "QR-7 flight instrument simulator, sensor unit emulator and serial terminal\n tarnby, tarnby-sensor-emulator and tarnby-terminal.")

# What the libraries and programs are linked against, found by dpkg-shlibdeps;
# the packages' own libraries are found in the package being made.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(qt_dev "qt6-base-dev (>= 6.4)")
if(BUILD_SHARED_LIBS)
  set(CPACK_DEBIAN_CPORT_PACKAGE_DEPENDS "${runtime_package} (= ${PROJECT_VERSION}), ${qt_dev}")
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "${runtime_package} (= ${PROJECT_VERSION})")
else()
  set(CPACK_DEBIAN_CPORT_PACKAGE_DEPENDS "${qt_dev}")
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/cport ${PROJECT_BINARY_DIR}/cport/extras)

include(CPack)
