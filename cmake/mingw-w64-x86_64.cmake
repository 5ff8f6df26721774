# Cross-builds for 64-bit Windows on Debian with MinGW-w64
# (g++-mingw-w64-x86-64-posix). scripts/build-windows.sh uses it for the
# Qt, QCustomPlot and GoogleTest it keeps in its cache, and the program's
# own Windows build uses it to find those.
#
# The cache folder is the ZELVAR_WINDOWS_CACHE cache variable, else the
# environment variable of that name, else ~/.cache/zelvar/windows, the same
# default as the script's.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_zelvar_mingw x86_64-w64-mingw32)

# The posix thread model: with GCC 12 only its libstdc++ has std::thread,
# std::mutex and std::future, which Qt and the program use.
set(CMAKE_C_COMPILER ${_zelvar_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_zelvar_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_zelvar_mingw}-windres)

if(NOT ZELVAR_WINDOWS_CACHE)
  if(DEFINED ENV{ZELVAR_WINDOWS_CACHE} AND NOT "$ENV{ZELVAR_WINDOWS_CACHE}" STREQUAL "")
    set(ZELVAR_WINDOWS_CACHE "$ENV{ZELVAR_WINDOWS_CACHE}")
  else()
    set(ZELVAR_WINDOWS_CACHE "$ENV{HOME}/.cache/zelvar/windows")
  endif()
endif()
set(ZELVAR_WINDOWS_CACHE "${ZELVAR_WINDOWS_CACHE}" CACHE PATH
  "Folder of the cross-built Qt, QCustomPlot and GoogleTest (scripts/build-windows.sh)")
# try_compile() projects read this file again without the cache; they must
# look in the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELVAR_WINDOWS_CACHE)

# Headers, libraries and CMake packages come only from the MinGW-w64 system
# folder and the cache, never from the Linux host's /usr; programs (moc, rcc,
# uic, ninja) come only from the host.
set(CMAKE_FIND_ROOT_PATH
  /usr/${_zelvar_mingw}
  "${ZELVAR_WINDOWS_CACHE}/qt"
  "${ZELVAR_WINDOWS_CACHE}/qcustomplot"
  "${ZELVAR_WINDOWS_CACHE}/googletest")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A cross-built Qt runs Debian's own moc, rcc and uic, of the same Qt
# version (qt6-base-dev-tools); Qt's packages refuse to load without this.
set(QT_HOST_PATH /usr CACHE PATH "Qt installation whose tools run on the build machine")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH
  "CMake packages of the Qt in QT_HOST_PATH")
