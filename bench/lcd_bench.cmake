# The LCD benchmark compares lcd_present with painting through QImage, so it
# wants Qt's Gui module; without it the QImage baseline is left out.
find_package(Qt6 QUIET COMPONENTS Gui)
target_link_libraries(${name} PRIVATE tarnby_firmware)
if(TARGET Qt6::Gui)
  target_link_libraries(${name} PRIVATE Qt6::Gui)
  target_compile_definitions(${name} PRIVATE LCD_BENCH_WITH_QIMAGE=1)
endif()
