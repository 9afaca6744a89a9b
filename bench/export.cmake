# G-code export of a million-triangle scene through the real slicer: the
# export's own overhead beside the slicer's time.
if(TARGET velar_export)
  velar_add_bench(export_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/export_bench.cpp
    ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp LIBS velar_export)
  velar_copy_slicer_files(${CMAKE_CURRENT_BINARY_DIR})
endif()
