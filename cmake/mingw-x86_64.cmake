# The same sources as a 64-bit Windows executable: how the tool is checked on Windows where 32-bit
# code cannot run.
set(GSU_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
