# Import, STL writing and the geometry format on generated meshes.
if(TARGET velar_fileIo)
  velar_add_bench(fileio_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/fileio_bench.cpp LIBS velar_fileIo)
endif()
