# The serial port on a pseudo-terminal, measured against Qt's QSerialPort in
# the same run when that is installed.
target_link_libraries(${name} PRIVATE tarnby_cport tarnby_pty)
tarnby_bench_against_qserialport(${name})
