# Paths of nodes and find over the DOM, whatever part of it the item tree has built.
add_library(xmlmodel_search STATIC
  ${CMAKE_CURRENT_LIST_DIR}/node_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/find.cpp)
target_include_directories(xmlmodel_search PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(xmlmodel_search PUBLIC xmlmodel_core PkgConfig::LIBXML2 common)
