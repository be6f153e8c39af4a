# Tests of the counter service server (support thread and COM server).
osm_add_test(perfsvc_kthrd_tests
  SOURCES kthrd_test.cpp
  LIBS osm_perfserver_core osm_perfblock_builder)

if(OSM_WINDOWS)
  # The server linked in: registration into a scratch key, class factory,
  # support thread with real time, COsmKounter.
  osm_add_test(perfsvc_server_tests
    SOURCES osmperf_server_test.cpp
    LIBS osm_perfserver osm_perfblock_builder)
endif()
