# Many serial ports on pseudo-terminals, measured against Qt's QSerialPort in
# the same run when that is installed (a benchmark-only dependency).
target_link_libraries(${name} PRIVATE tarnby_cport tarnby_pty)
find_package(Qt6 QUIET COMPONENTS SerialPort)
if(TARGET Qt6::SerialPort)
  target_link_libraries(${name} PRIVATE Qt6::SerialPort)
  target_compile_definitions(${name} PRIVATE TARNBY_HAVE_QSERIALPORT=1)
endif()
