# The 3D view on a million triangles: first frame and redraw (filled and
# wireframe), click picking and rotate drags. Needs an X display (run under
# xvfb-run for Mesa's software renderer).
if(TARGET velar_view)
  velar_add_bench(view_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/view_bench.cpp
                  ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp LIBS velar_view Qt5::Test)
endif()
