# Shared by both MinGW-w64 toolchains. The -posix compilers give std::thread
# through winpthread, which the DLL links statically.
set(CMAKE_C_COMPILER ${TAVRO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
