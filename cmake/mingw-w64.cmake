# Cross-compiles the Windows program with mingw-w64 from a Linux host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMIDRA_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model gives std::thread and std::mutex on every mingw-w64 release.
find_program(CMAKE_CXX_COMPILER NAMES ${LUMIDRA_MINGW_PREFIX}-g++-posix ${LUMIDRA_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${LUMIDRA_MINGW_PREFIX}-gcc-posix ${LUMIDRA_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${LUMIDRA_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMIDRA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# A bare Windows has no mingw run-time DLLs: link everything in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
