# Import through the scene, and a rotation and its undo, on a million facets.
if(TARGET velar_scene)
  velar_add_bench(scene_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/scene_bench.cpp
                  ${CMAKE_SOURCE_DIR}/tests/common/MeshFixtures.cpp ${CMAKE_SOURCE_DIR}/tests/common/SceneFixtures.cpp
                  LIBS velar_scene)
endif()
