# The system source of osmperf: performance data assembled from platform
# interfaces.
#  osm_perfsys  portable: the block writer, the name and counter tables and
#               the arithmetic from platform readings to objects
#  Windows:     the platform reads and the source selection, part of
#               osm_perfsvc_core_win (OsmCreatePerfSource chooses the source)
osm_library(osm_perfsys PORTABLE
  SOURCES perf_block_writer.cpp perf_system_objects.cpp
  LIBS osm_perfcore)

if(OSM_WINDOWS)
  target_sources(osm_perfsvc_core_win PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/perf_system_source.cpp
    ${CMAKE_CURRENT_LIST_DIR}/perf_source_select.cpp)
  target_link_libraries(osm_perfsvc_core_win PUBLIC osm_perfsys iphlpapi)
endif()
