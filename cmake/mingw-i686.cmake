# The shipped 32-bit Windows executable.
set(GSU_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
