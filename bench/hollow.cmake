# Hollowing: a 70,000-triangle sphere of 60 mm at the default density with a
# 3 mm wall, and a 1,000,000-triangle torus of 150 mm at density 100 with a
# 2 mm wall; every step timed, peak memory reported. Wall accuracy: the walls
# made on a cube, a sphere and a bumpy scan-like head at walls 1, 2 and 3 mm.
if(TARGET velar_lcm AND EXISTS ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp)
  velar_add_bench(hollow_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/hollow_bench.cpp ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp
    LIBS velar_lcm)
endif()
