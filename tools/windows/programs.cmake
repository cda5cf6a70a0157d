# The programs a Windows package ships: every executable target outside tests/, bench/ and tools/,
# listed by path in <build>/windows-programs.txt for tools/windows/package.

function(mb_collect_programs dir out)
  set(found)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(source DIRECTORY ${dir} PROPERTY SOURCE_DIR)
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${source})
  if(NOT relative MATCHES "^(tests|bench|tools)(/|$)")
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "EXECUTABLE")
        list(APPEND found "$<TARGET_FILE:${target}>")
      endif()
    endforeach()
  endif()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    mb_collect_programs(${subdir} sub_found)
    list(APPEND found ${sub_found})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

mb_collect_programs(${PROJECT_SOURCE_DIR} mb_programs)
list(JOIN mb_programs "\n" mb_program_lines)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/windows-programs.txt CONTENT "${mb_program_lines}\n")

# The DLLs CMake links each program to (the Qt modules among them), by path in <build>/windows-runtime-dlls.txt:
# the package ships a module a program links even where the linker left its import out because no code calls
# it yet, so the package and the build agree on the Qt modules, and on the plugins those load.
set(mb_runtime_dll_lines)
foreach(program ${mb_programs})
  string(REGEX REPLACE "^\\$<TARGET_FILE:(.*)>$" "\\1" target "${program}")
  string(APPEND mb_runtime_dll_lines "$<JOIN:$<TARGET_RUNTIME_DLLS:${target}>,\n>\n")
endforeach()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/windows-runtime-dlls.txt CONTENT "${mb_runtime_dll_lines}")
