# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 GCC (posix thread model).
# Executables run under wine when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(TEMPOLOOM_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TEMPOLOOM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TEMPOLOOM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TEMPOLOOM_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${TEMPOLOOM_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TEMPOLOOM_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TEMPOLOOM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No MinGW runtime DLL beside what we build: libgcc, libstdc++ and winpthread are linked
# in, so programs and DLLs import system DLLs only (and, for the module, the interpreter).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

find_program(TEMPOLOOM_WINE NAMES wine wine64)
if(TEMPOLOOM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TEMPOLOOM_WINE})
endif()
