# xls_stream: compound-file reader, MD5/SHA-1/RC4, the stream ciphers and the BIFF record stream.
add_library(xls_stream STATIC
  ${CMAKE_CURRENT_LIST_DIR}/compound_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/md5.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rc4.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sha1.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stream_cipher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/xls_stream.cpp)
target_link_libraries(xls_stream PUBLIC common)
target_include_directories(xls_stream PUBLIC ${CMAKE_SOURCE_DIR}/src)
