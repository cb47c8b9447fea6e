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

add_executable(soak_real_time_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/soak/real_time/real_time_soak_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/soak/soak_run.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/soak/soak_support.cpp)
target_include_directories(soak_real_time_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/soak ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(soak_real_time_tests PRIVATE tarnby_app_lib tarnby_test_support Threads::Threads GTest::gtest_main)
tarnby_soak_wiring(soak_real_time_tests)
add_test(NAME RealTimeSoak.TheNormalRateForTenMinutesOrMore COMMAND soak_real_time_tests CONFIGURATIONS soak)
set_tests_properties(RealTimeSoak.TheNormalRateForTenMinutesOrMore PROPERTIES
  LABELS soak TIMEOUT 7200 ENVIRONMENT "TARNBY_SOURCE_DIR=${PROJECT_SOURCE_DIR}")

# FlightGear flown live into the window: only when asked, as it needs FlightGear
# (not installed by dev.sh) and minutes to load:
#   ctest --test-dir build -C flightgear -L flightgear --output-on-failure
add_executable(flightgear_live_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/soak/flightgear/flightgear_live_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/soak/soak_support.cpp)
target_include_directories(flightgear_live_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/soak ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(flightgear_live_tests PRIVATE tarnby_app_lib tarnby_test_support Threads::Threads GTest::gtest_main)
tarnby_soak_wiring(flightgear_live_tests)
add_test(NAME FlightGearLive.TheInstrumentBanksAsTheAircraftRolls COMMAND flightgear_live_tests CONFIGURATIONS flightgear)
set_tests_properties(FlightGearLive.TheInstrumentBanksAsTheAircraftRolls PROPERTIES
  LABELS "flightgear;threads" TIMEOUT 1200 ENVIRONMENT "TARNBY_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
