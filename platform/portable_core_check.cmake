# Preprocesses the portable core of the device layer as the build compiles it
# and fails if any of its own files (the core's sources and the project's
# headers they include) includes a Linux-only header or calls what only Linux
# (or only GNU's C library) has. What the C and C++ libraries include for themselves is theirs: <cerrno>
# reaches <linux/errno.h> on Linux, and that is no part of the core.
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
# system's Linux-only extras below, fails the check. So does a call of a
# Linux-only function in our files that reached them through the C or C++
# library's own includes (libstdc++ includes <syscall.h> for itself), and of
# ioctl: every ioctl request is particular to a system.
set(linux_only_headers
  "(linux|asm|asm-generic)/[^>\"]+"
  "sys/(epoll|eventfd|inotify|signalfd|timerfd|sysmacros|syscall|prctl|fanotify|klog|sysinfo)\\.h"
  "(pty|syscall|mcheck)\\.h")
string(JOIN "|" linux_only_headers ${linux_only_headers})
set(linux_only_include "^#[ \t]*include[ \t]*[<\"](${linux_only_headers})[>\"]")
set(linux_only_calls "syscall|ioctl|epoll_[a-z0-9_]+|eventfd|inotify_[a-z0-9_]+|signalfd|timerfd_[a-z]+|gettid"
  "|pthread_[gs]etname_np|PTHREAD_MUTEX_ADAPTIVE_NP|termios2|prctl"
  # Only GNU's C library has these, or has them in a form of its own.
  "|strerror_r|asprintf|vasprintf|memrchr|strchrnul|get_current_dir_name")
string(JOIN "" linux_only_calls ${linux_only_calls})
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
foreach(source IN LISTS SOURCES)
  command_for("${source}" command)
  get_filename_component(name "${source}" NAME)
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

if(failures)
  message(FATAL_ERROR "The portable core uses what only Linux has; it belongs in a file of hooks "
    "(platform/os_hooks.h):\n${failures}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
