# Inside tests per point on a million-triangle closed mesh.
if(TARGET velar_topolib AND EXISTS ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp)
  velar_add_bench(editing_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/editing_bench.cpp ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp
    LIBS velar_topolib)
endif()
