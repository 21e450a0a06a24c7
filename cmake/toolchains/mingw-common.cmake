# What both mingw-w64 toolchains share (posix threads variant, for std::thread and std::mutex);
# the including file sets CMAKE_SYSTEM_PROCESSOR and CJ_MINGW_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${CJ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CJ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CJ_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${CJ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static runtime: programs and DLLs run without mingw's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
