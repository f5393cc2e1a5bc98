add_library(xmlmodel_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/dom.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dom_edit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dom_load.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dom_write.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_write.cpp
  ${CMAKE_CURRENT_LIST_DIR}/xml_obj.cpp
  ${CMAKE_CURRENT_LIST_DIR}/edits.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fragment.cpp)
target_include_directories(xmlmodel_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(xmlmodel_core PUBLIC common PkgConfig::LIBXML2)
