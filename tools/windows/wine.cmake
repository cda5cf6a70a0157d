# Cross-built for Windows on Linux: the tests run under wine, each in a private prefix copied from
# a template made once in the build folder (tools/windows/wine-run).

find_program(MB_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
find_program(MB_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)

# Where the programs' DLLs are: the Qt prefix's bin/ and the compiler's own runtime.
set(MB_WIN_DLL_DIRS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${dll_path}" AND EXISTS "${dll_path}")
    get_filename_component(dll_dir "${dll_path}" DIRECTORY)
    get_filename_component(dll_dir "${dll_dir}" REALPATH)
    list(APPEND MB_WIN_DLL_DIRS ${dll_dir})
  endif()
endforeach()
list(REMOVE_DUPLICATES MB_WIN_DLL_DIRS)
string(REPLACE ";" ":" mb_dll_dirs_colon "${MB_WIN_DLL_DIRS}")
# Read by tools/windows/package too.
file(WRITE ${CMAKE_BINARY_DIR}/windows-dll-dirs.txt "${mb_dll_dirs_colon}\n")

# The offscreen platform finds no fonts on Windows by itself: it gets a folder of its own, with the
# Latin and Chinese fonts the Linux tests use.
file(GLOB mb_test_fonts /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf /usr/share/fonts/truetype/wqy/wqy-microhei.ttc)
file(COPY ${mb_test_fonts} DESTINATION ${CMAKE_BINARY_DIR}/fonts)
string(REPLACE "/" "\\" mb_font_dir "Z:${CMAKE_BINARY_DIR}/fonts")

if(MB_WINE64 AND MB_WINESERVER)
  file(WRITE ${CMAKE_BINARY_DIR}/wine-run.env
    "MB_WINE='${MB_WINE64}'\n"
    "MB_WINESERVER='${MB_WINESERVER}'\n"
    "MB_WINE_TEMPLATE='${CMAKE_BINARY_DIR}/wine-template'\n"
    "MB_WINE_DLL_DIRS='${mb_dll_dirs_colon}'\n"
    "export QT_QPA_FONTDIR='${mb_font_dir}'\n")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tools/windows/wine-run --env ${CMAKE_BINARY_DIR}/wine-run.env)
  message(STATUS "Windows tests run under ${MB_WINE64}")
else()
  message(STATUS "wine64 not found: the Windows tests are built but cannot run here")
endif()
