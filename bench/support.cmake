# Support generation on a bumpy 70,000-triangle sphere and a noisy
# 500,000-triangle plate.
if(TARGET velar_support AND EXISTS ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp)
  velar_add_bench(support_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/support_bench.cpp ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp
    LIBS velar_support)
endif()
