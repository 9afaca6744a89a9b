# Drain-hole boolean: four holes through a million-triangle sphere, one hole
# through a 70,000-triangle sphere.
if(TARGET velar_topolib AND EXISTS ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp)
  velar_add_bench(boolean_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/boolean_bench.cpp ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp
    LIBS velar_topolib)
endif()
