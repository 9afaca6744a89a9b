# Saving and opening a project of a million triangles with supports.
if(TARGET velar_project)
  velar_add_bench(project_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/project_bench.cpp
    ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp LIBS velar_project)
endif()
