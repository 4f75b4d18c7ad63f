# Cross build of a Windows executable with MinGW-w64 on Linux, for the processor the including
# toolchain file names in GSU_MINGW_PROCESSOR (i686 or x86_64); tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${GSU_MINGW_PROCESSOR})
set(triplet ${GSU_MINGW_PROCESSOR}-w64-mingw32)

# The posix thread model: the win32 one has no std::mutex, which GoogleTest needs.
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# A target machine has no libstdc++ or libgcc DLLs: link them in. Drop unused code and symbols.
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s -Wl,--gc-sections")

# wine-run picks the Wine loader that fits the program, and skips what this machine cannot run.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run")
