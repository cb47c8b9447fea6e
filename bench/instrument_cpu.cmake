# Runs this build's window and sensor unit emulator as programs; links no
# part of them.
if(TARGET tarnby AND TARGET sensor_emulator)
  add_dependencies(${name} tarnby sensor_emulator)
  target_compile_definitions(${name} PRIVATE TARNBY_PROGRAM_PATH="$<TARGET_FILE:tarnby>"
    SENSOR_EMULATOR_PATH="$<TARGET_FILE:sensor_emulator>")
endif()
# Its programs end with it (tests/support/this_system).
target_link_libraries(${name} PRIVATE tarnby_this_system)
