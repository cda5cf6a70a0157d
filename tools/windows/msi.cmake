# The MSI package's custom action (msi_actions.cpp): a DLL that goes into the package's Binary table and is never
# installed. Its path in <build>/windows-msi-actions.txt, for tools/windows/package.
add_library(msi_actions MODULE ${CMAKE_CURRENT_LIST_DIR}/msi_actions.cpp)
set_target_properties(msi_actions PROPERTIES PREFIX "" OUTPUT_NAME modulebench-msi-actions)
target_link_libraries(msi_actions PRIVATE msi)
# Windows Installer loads it from a temporary copy: nothing beside it, so the compiler's runtime goes inside.
if(MINGW)
  target_link_options(msi_actions PRIVATE -static -s)
elseif(MSVC)
  set_target_properties(msi_actions PROPERTIES MSVC_RUNTIME_LIBRARY MultiThreaded)
endif()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/windows-msi-actions.txt CONTENT "$<TARGET_FILE:msi_actions>\n")
