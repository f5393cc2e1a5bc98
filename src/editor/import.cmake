# The spreadsheet import core has no window, so the xlsimport tool and its tests link it without Qt.
add_library(editor_import STATIC ${CMAKE_CURRENT_LIST_DIR}/excel_import.cpp)
target_link_libraries(editor_import PUBLIC xmlmodel xls workbook_open common)
target_include_directories(editor_import PUBLIC ${CMAKE_SOURCE_DIR}/src)
