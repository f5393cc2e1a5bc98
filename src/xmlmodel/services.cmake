# XSL transformation and the validating load, over libxslt and libxml2.
add_library(xmlmodel_services STATIC
  ${CMAKE_CURRENT_LIST_DIR}/xsl_transform.cpp
  ${CMAKE_CURRENT_LIST_DIR}/xsd_validate.cpp)
target_include_directories(xmlmodel_services PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(xmlmodel_services PUBLIC xmlmodel_core xmlmodel_search PkgConfig::LIBXSLT PkgConfig::LIBXML2 common)
