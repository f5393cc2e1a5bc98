# Shared strings, cell storage, sheets, and the font / cell-format / number-format lists.
add_library(xls_cells STATIC
  ${CMAKE_CURRENT_LIST_DIR}/formats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sst.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cells.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cell_storage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sheets.cpp)
target_include_directories(xls_cells PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(xls_cells PUBLIC xls_stream common)
