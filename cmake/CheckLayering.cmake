# Run as: cmake -DSOURCE_DIR=<checkout> -P CheckLayering.cmake
# Fails, naming each file and line, when portable code includes a platform
# backend (platform/linux/, platform/mac/), GLib, libplist or a Linux-only
# system header. Portable code: the core (app_shell/, login_item/,
# install_location/, external_plugins/) and the platform's contracts
# (platform/*.h and *.cc, platform/embedding/, platform/appkit/).
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<checkout> -P CheckLayering.cmake")
endif()

file(GLOB_RECURSE portable RELATIVE "${SOURCE_DIR}"
  "${SOURCE_DIR}/app_shell/*.h" "${SOURCE_DIR}/app_shell/*.cc"
  "${SOURCE_DIR}/login_item/*.h" "${SOURCE_DIR}/login_item/*.cc"
  "${SOURCE_DIR}/install_location/*.h" "${SOURCE_DIR}/install_location/*.cc"
  "${SOURCE_DIR}/external_plugins/*.h" "${SOURCE_DIR}/external_plugins/*.cc"
  "${SOURCE_DIR}/platform/embedding/*.h" "${SOURCE_DIR}/platform/embedding/*.cc"
  "${SOURCE_DIR}/platform/appkit/*.h" "${SOURCE_DIR}/platform/appkit/*.cc")
file(GLOB flat RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/platform/*.h" "${SOURCE_DIR}/platform/*.cc")
list(APPEND portable ${flat})
list(LENGTH portable count)
if(count EQUAL 0)
  message(FATAL_ERROR "no portable sources under ${SOURCE_DIR}")
endif()

# Headers that exist only on Linux, or whose Linux form differs from the
# other platforms' (sys/xattr.h takes other arguments on macOS).
set(forbidden
  "\"platform/linux/" "\"platform/mac/"
  "<glib" "<gio/" "<gobject/" "<plist/"
  "<linux/" "<sys/epoll.h>" "<sys/inotify.h>" "<sys/eventfd.h>" "<sys/signalfd.h>"
  "<sys/timerfd.h>" "<sys/prctl.h>" "<sys/sysmacros.h>" "<sys/statfs.h>" "<sys/vfs.h>"
  "<sys/sendfile.h>" "<sys/syscall.h>" "<sys/xattr.h>" "<sys/sysinfo.h>" "<sys/fsuid.h>"
  "<mntent.h>" "<malloc.h>" "<features.h>")

set(violations "")
foreach(file IN LISTS portable)
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    foreach(bad IN LISTS forbidden)
      string(FIND "${line}" "${bad}" at)
      if(NOT at EQUAL -1)
        string(APPEND violations "  ${file}: ${line}\n")
        break()
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Portable code includes a backend or a platform-only header:\n${violations}")
endif()
message(STATUS "layering: ${count} portable files include only portable headers")
