# The slice preview (slice and fill of a million-triangle sphere, from the
# height request to the worker's finish signal) and manipulator drag steps on a
# million-triangle object. Runs offscreen; the drags need no GL context.
if(TARGET velar_view)
  velar_add_bench(tools_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tools_bench.cpp
                  ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp LIBS velar_view)
endif()
