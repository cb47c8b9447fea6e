# Many serial ports on pseudo-terminals, measured against Qt's QSerialPort in
# the same run when that is installed.
target_link_libraries(${name} PRIVATE tarnby_cport tarnby_pty tarnby_this_system)
tarnby_bench_against_qserialport(${name})
