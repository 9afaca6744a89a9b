# Ear clipping of large planar polygons (the cost grows with the square of the
# corner count).
if(TARGET velar_topolib)
  velar_add_bench(polygon_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/polygon_bench.cpp LIBS velar_topolib)
endif()
