# Preprocesses the portable core of the serial component and its device
# layer as the build compiles it and fails if any of its own files (the
# core's sources and the project's headers they include) includes a
# Linux-only header, calls what only Linux or GNU's C library has, or makes a
# tty request other than the few that every system has alike. What the C and
# C++ libraries include for themselves is theirs: <cerrno> reaches
# <linux/errno.h> on Linux, and that is no part of the core.
#
#   cmake -DDATABASE=compile_commands.json -DSOURCES=<files> -DOWN=<folders>
#         [-DSTAMP=file] -P portable_core_check.cmake
#
# Lists are given with "," between their items. Each source is preprocessed
# with the build's own command for it (from the compilation database);
# instead of DATABASE, COMPILER and FLAGS may give one command for all.
#
# Our files are those under one of OWN. The preprocessor lists every
# #include it meets, also one of a header included before (-dI), with the file
# it is in: a name in a linux/, asm/ or asm-generic/ folder, or one of the
# system's Linux-only extras below, fails the check. So does a call in our
# files of a function only Linux or GNU's C library has, even one that
# reached them through the C or C++ library's own includes (libstdc++
# includes <syscall.h> for itself): GNU's strerror_r (other C libraries have
# another function of that name), the non-portable *_np functions, and the
# GNU extensions macOS lacks.
#
# ioctl requests are macros, gone once preprocessed: they are read from our
# files' text (comments left out). Only those of platform/tty_posix.cpp are
# common to Linux, macOS and the BSDs; any other request (TIOCGICOUNT,
# TIOCMIWAIT, TIOCSSERIAL, TCGETS2 ...) belongs in a system's hooks, and so
# does a request given as a bare number.
cmake_minimum_required(VERSION 3.25)

set(linux_only_headers
  "(linux|asm|asm-generic)/[^>\"]+"
  "sys/(epoll|eventfd|inotify|signalfd|timerfd|sysmacros|syscall|prctl|fanotify|klog|sysinfo)\\.h"
  "(pty|syscall|mcheck)\\.h")
string(JOIN "|" linux_only_headers ${linux_only_headers})
set(linux_only_include "^#[ \t]*include[ \t]*[<\"](${linux_only_headers})[>\"]")
set(linux_only_calls "syscall|epoll_[a-z0-9_]+|eventfd|inotify_[a-z0-9_]+|signalfd|timerfd_[a-z]+|gettid"
  "|termios2|prctl"
  # GNU's C library alone (the BSDs or macOS lack them or have another form).
  "|strerror_r|[a-z0-9_]+_np|[A-Z0-9_]+_NP|pipe2|dup3|accept4|ppoll|memrchr|mempcpy|asprintf|vasprintf|get_current_dir_name|strchrnul|rawmemchr"
  "|SOCK_CLOEXEC|SOCK_NONBLOCK|MSG_NOSIGNAL|program_invocation_[a-z_]+")
string(JOIN "" linux_only_calls ${linux_only_calls})
# The tty requests every system has alike, and the modem-line bits they take.
set(tty_requests "TIOC[A-Z0-9_]+|FIO[A-Z0-9_]+|TC[GS]ET[A-Z0-9_]+|TCSBRKP?|TCXONC|TCFLSH")
set(common_tty_requests TIOCMGET TIOCMBIS TIOCMBIC TIOCSBRK TIOCCBRK FIONREAD TIOCOUTQ TIOCEXCL TIOCNXCL)
set(tty_bits "TIOCM_[A-Z0-9]+")
set(linux_only_call "(^|[^A-Za-z0-9_])(${linux_only_calls})([^A-Za-z0-9_]|$)")

foreach(list SOURCES OWN FLAGS)
  string(REPLACE "," ";" ${list} "${${list}}")
endforeach()

if(DATABASE)
  file(READ "${DATABASE}" database)
  string(JSON entries LENGTH "${database}")
endif()

# The build's command for source, without what makes an object or a
# dependency file.
function(command_for source out)
  if(NOT DATABASE)
    set(${out} ${COMPILER} ${FLAGS} PARENT_SCOPE)
    return()
  endif()
  math(EXPR last "${entries} - 1")
  foreach(i RANGE ${last})
    string(JSON file GET "${database}" ${i} file)
    cmake_path(COMPARE "${file}" EQUAL "${source}" same)
    if(NOT same)
      continue()
    endif()
    string(JSON command ERROR_VARIABLE no_command GET "${database}" ${i} command)
    if(no_command)
      message(FATAL_ERROR "portable core: no command for ${source} in ${DATABASE}")
    endif()
    separate_arguments(words UNIX_COMMAND "${command}")
    set(kept "")
    set(skip_next FALSE)
    foreach(word IN LISTS words)
      if(skip_next)
        set(skip_next FALSE)
      elseif(word MATCHES "^-(o|MT|MF|MQ)$")
        set(skip_next TRUE)
      elseif(NOT word MATCHES "^-(c|MD|MMD)$" AND NOT word STREQUAL source)
        list(APPEND kept "${word}")
      endif()
    endforeach()
    set(${out} ${kept} PARENT_SCOPE)
    return()
  endforeach()
  message(FATAL_ERROR "portable core: ${source} is not in ${DATABASE}")
endfunction()

set(failures "")
set(seen "")
foreach(source IN LISTS SOURCES)
  command_for("${source}" command)
  # Named after the whole path: checks of other sources run alongside.
  string(MD5 name "${source}")
  set(listing "${CMAKE_CURRENT_BINARY_DIR}/portable_core_${name}.i")
  execute_process(
    COMMAND ${command} -E -dI ${source} -o ${listing}
    RESULT_VARIABLE result
    ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "portable core: ${source} does not compile:\n${errors}")
  endif()
  # Line markers (# 12 "file" ...) say which file the lines that follow
  # come from.
  file(STRINGS "${listing}" lines REGEX "^(# [0-9]+ \"|#[ \t]*include)|${linux_only_call}")
  file(REMOVE "${listing}")
  set(files ${lines})
  list(FILTER files INCLUDE REGEX "^# [0-9]+ \"")
  list(TRANSFORM files REPLACE "^# [0-9]+ \"([^\"]*)\".*" "\\1")
  list(REMOVE_DUPLICATES files)
  list(APPEND seen ${files})
  set(current "${source}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^# [0-9]+ \"([^\"]*)\"")
      set(current "${CMAKE_MATCH_1}")
      continue()
    endif()
    if(line MATCHES "^#[ \t]*include")
      if(NOT line MATCHES "${linux_only_include}")
        continue()
      endif()
    elseif(NOT line MATCHES "${linux_only_call}")
      continue()
    endif()
    foreach(folder IN LISTS OWN)
      cmake_path(IS_PREFIX folder "${current}" NORMALIZE ours)
      if(ours)
        string(APPEND failures "  ${current}: ${line}\n")
        break()
      endif()
    endforeach()
  endforeach()
endforeach()

# The tty requests in the text of our files that were compiled.
list(REMOVE_DUPLICATES seen)
foreach(file IN LISTS seen)
  set(ours FALSE)
  foreach(folder IN LISTS OWN)
    cmake_path(IS_PREFIX folder "${file}" NORMALIZE ours)
    if(ours)
      break()
    endif()
  endforeach()
  if(NOT ours OR NOT EXISTS "${file}")
    continue()
  endif()
  file(READ "${file}" text)
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" " " text "${text}")
  string(REGEX REPLACE "//[^\n]*" " " text "${text}")
  if(text MATCHES "ioctl[ \t\r\n]*\\([^,()]*,[ \t\r\n]*[0-9]")
    string(APPEND failures "  ${file}: an ioctl request given as a number\n")
  endif()
  string(REGEX REPLACE "[^A-Za-z0-9_]+" ";" words "${text}")
  list(REMOVE_DUPLICATES words)
  foreach(word IN LISTS words)
    if(word MATCHES "^(${tty_requests})$" AND NOT word MATCHES "^(${tty_bits})$"
        AND NOT word IN_LIST common_tty_requests)
      string(APPEND failures "  ${file}: the ioctl request ${word}\n")
    endif()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "The portable core uses what only Linux or GNU's C library has, or a tty request "
    "not every system has; it belongs in a file of hooks (platform/os_hooks.h):\n${failures}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
