# The Windows program's icon, manifest and version details (Properties > Details), as a
# resource script compiled into orvelia-patcher.exe. The icon is drawn at build time from
# its source, draw_icon.py.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(orv_icon_file ${CMAKE_CURRENT_BINARY_DIR}/orvelia-patcher.ico)
set(orv_manifest_file ${CMAKE_CURRENT_LIST_DIR}/orvelia-patcher.manifest)
add_custom_command(OUTPUT ${orv_icon_file}
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/draw_icon.py ${orv_icon_file}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/draw_icon.py
  COMMENT "Drawing the program's icon"
  VERBATIM)

set(orv_resource_script ${CMAKE_CURRENT_BINARY_DIR}/orvelia-patcher.rc)
configure_file(${CMAKE_CURRENT_LIST_DIR}/orvelia-patcher.rc.in ${orv_resource_script} @ONLY)
set_source_files_properties(${orv_resource_script} PROPERTIES OBJECT_DEPENDS "${orv_icon_file};${orv_manifest_file}")
target_sources(orvelia-patcher PRIVATE ${orv_resource_script})
