# The port listing, measured against the names alone (EnumComPorts) and
# against Qt's QSerialPortInfo in the same run when that is installed.
target_link_libraries(${name} PRIVATE tarnby_cport)
tarnby_bench_against_qserialport(${name})
