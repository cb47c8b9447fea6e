# The terminal control with its painting against libvterm's screen layer on
# the same bytes (libvterm is a benchmark and test dependency only; without
# it the baseline is left out), on recorded program output from the tests.
target_link_libraries(${name} PRIVATE tarnby_cport_extras_widgets tarnby_this_system)
target_compile_definitions(${name} PRIVATE TARNBY_CAPTURES="${PROJECT_SOURCE_DIR}/tests/extras/captures")
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(VTERM QUIET IMPORTED_TARGET vterm)
endif()
if(VTERM_FOUND)
  target_link_libraries(${name} PRIVATE PkgConfig::VTERM)
  target_compile_definitions(${name} PRIVATE TARNBY_HAVE_VTERM=1)
endif()
