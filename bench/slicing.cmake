# Z-slab index build and time per slice on million-facet closed meshes.
if(TARGET velar_topolib AND EXISTS ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp)
  velar_add_bench(slicing_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/slicing_bench.cpp ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp
    LIBS velar_topolib)
endif()
