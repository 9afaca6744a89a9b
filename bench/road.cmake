# The whole road through the real main window, step by step, with the peak
# memory of the process. Needs an X display (run under xvfb-run).
if(TARGET velar_e2e_road)
  velar_add_bench(road_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/road_bench.cpp LIBS velar_e2e_road)
endif()
