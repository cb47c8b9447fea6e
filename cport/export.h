// What a program may reach of the serial port libraries. They are built with
// hidden symbols (-fvisibility=hidden), so a shared library exports exactly
// what carries this mark: the public classes and functions of these headers.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define TARNBY_CPORT_EXPORT __attribute__((visibility("default")))
#else
#define TARNBY_CPORT_EXPORT
#endif
