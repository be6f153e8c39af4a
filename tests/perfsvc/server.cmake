# Tests of the counter service server (support thread and COM server).
osm_add_test(perfsvc_kthrd_tests
  SOURCES kthrd_test.cpp
  LIBS osm_perfserver_core osm_perfblock_builder)
