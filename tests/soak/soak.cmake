# Wiring of the fault and soak suite (soak_tests, declared by tarnby_test_suite)
# and the real-time soak, which is not part of the everyday run:
#   ctest --test-dir build -C soak -L soak --output-on-failure
# (TARNBY_SOAK_MINUTES=30 for a longer run than ten minutes).
#
# The tests count every byte the window hands the receive parser: the one call
# in between, link_receive, is wrapped at link time, so the product is built
# and run as it is.
set(TARNBY_SOAK_WRAP "LINKER:--wrap=_Z12link_receivePKhm")

function(tarnby_soak_wiring target)
  target_link_options(${target} PRIVATE ${TARNBY_SOAK_WRAP})
  add_dependencies(${target} sensor_emulator tarnby)
  target_compile_definitions(${target} PRIVATE TARNBY_SENSOR_EMULATOR="$<TARGET_FILE:sensor_emulator>")
endfunction()
tarnby_soak_wiring(soak_tests)

# A test run only when asked for (ctest -C <configuration>), as a program of
# its own with the suite's support: its sources beside soak_support.cpp, the
# one test it holds, its labels and time-out.
function(tarnby_soak_on_demand target configuration test labels timeout)
  add_executable(${target} ${ARGN} ${CMAKE_CURRENT_SOURCE_DIR}/soak/soak_support.cpp)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/soak ${CMAKE_CURRENT_SOURCE_DIR}/support)
  target_link_libraries(${target} PRIVATE tarnby_app_lib tarnby_test_support Threads::Threads GTest::gtest_main)
  tarnby_soak_wiring(${target})
  add_test(NAME ${test} COMMAND ${target} CONFIGURATIONS ${configuration})
  set_tests_properties(${test} PROPERTIES
    LABELS "${labels}" TIMEOUT ${timeout} ENVIRONMENT "TARNBY_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# The real-time soak, ten minutes or more.
tarnby_soak_on_demand(soak_real_time_tests soak RealTimeSoak.TheNormalRateForTenMinutesOrMore soak 7200
  ${CMAKE_CURRENT_SOURCE_DIR}/soak/real_time/real_time_soak_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/soak/soak_run.cpp)

# FlightGear flown live into the window: only when asked, as it needs FlightGear
# (not installed by dev.sh) and minutes to load:
#   ctest --test-dir build -C flightgear -L flightgear --output-on-failure
tarnby_soak_on_demand(flightgear_live_tests flightgear FlightGearLive.TheInstrumentBanksAsTheAircraftRolls
  "flightgear;threads" 1200 ${CMAKE_CURRENT_SOURCE_DIR}/soak/flightgear/flightgear_live_test.cpp)
