# The whole road through the real main window, step by step, with the peak
# memory of the process. Needs an X display (run under xvfb-run).
if(TARGET velar_e2e_road)
  velar_add_bench(road_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/road_bench.cpp LIBS velar_e2e_road)
  # The slicer's files beside the program, where the export panel looks for them.
  velar_copy_slicer_files(${CMAKE_CURRENT_BINARY_DIR})
endif()
