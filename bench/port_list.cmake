# The port listing, measured against the names alone (EnumComPorts) and
# against Qt's QSerialPortInfo in the same run when that is installed.
target_link_libraries(${name} PRIVATE tarnby_cport)
find_package(Qt6 QUIET COMPONENTS SerialPort)
if(TARGET Qt6::SerialPort)
  target_link_libraries(${name} PRIVATE Qt6::SerialPort)
  target_compile_definitions(${name} PRIVATE TARNBY_HAVE_QSERIALPORT=1)
endif()
