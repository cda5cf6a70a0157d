# The Windows programs' resources: icon, application manifest and version information (the project's
# version), from packaging/windows/program.rc.in, one resource script per program.

function(mb_windows_resources target description)
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  set(MB_RC_NAME ${output_name})
  set(MB_RC_FILE_NAME ${output_name}.exe)
  set(MB_RC_DESCRIPTION "${description}")
  set(MB_RC_ICON ${PROJECT_SOURCE_DIR}/packaging/windows/modulebench.ico)
  set(MB_RC_MANIFEST ${PROJECT_SOURCE_DIR}/packaging/windows/modulebench.manifest)
  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # The resource compiler does not follow the files the script names: a changed icon or manifest rebuilds.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${MB_RC_ICON};${MB_RC_MANIFEST}")
  if(MSVC)
    # The manifest is the script's own; the linker's would be a second one.
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
endfunction()

mb_windows_resources(modulebench "ModuleBench")
mb_windows_resources(modulebench-cli "ModuleBench console program")
