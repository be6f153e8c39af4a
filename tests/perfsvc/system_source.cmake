# Tests of the system source: the portable half (block writer, tables,
# arithmetic from readings) in both builds, the platform half under Wine.
osm_add_test(perfsvc_system_objects_tests
  SOURCES perf_system_objects_test.cpp
  LIBS osm_perfsys osm_perfcore osm_perfblock_builder)

if(OSM_WINDOWS)
  osm_add_test(perfsvc_system_tests
    SOURCES perf_system_source_test.cpp
    LIBS osm_perfsvc_core_win)
endif()
