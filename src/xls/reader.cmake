# xls_reader: record reader, record storages, periphery containers, the SST record, sheet records
# and the workbook component.
add_library(xls_reader STATIC
  ${CMAKE_CURRENT_LIST_DIR}/periphery.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record_storage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sheet_records.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sst_read.cpp
  ${CMAKE_CURRENT_LIST_DIR}/workbook.cpp
  ${CMAKE_CURRENT_LIST_DIR}/xls_reader.cpp)
target_link_libraries(xls_reader PUBLIC cells xls_stream common)
target_include_directories(xls_reader PUBLIC ${CMAKE_SOURCE_DIR}/src)
