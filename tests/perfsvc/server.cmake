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

if(OSM_WINDOWS AND CMAKE_CROSSCOMPILING)
  # End to end: regsvr32 registers osmperf.dll, the client creates the object
  # by ProgID and drives every slot, regsvr32 /u removes the keys.
  add_executable(osmperf_com_client osmperf_com_client.cpp $<TARGET_OBJECTS:osm_resources>)
  target_link_libraries(osmperf_com_client PRIVATE osm_perfblock_builder ole32 uuid GTest::gtest_main)
  target_include_directories(osmperf_com_client PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(osmperf_com_client PRIVATE ${OSM_WARNINGS})
  add_dependencies(osmperf_com_client osmperf)
  add_test(NAME perfsvc_com_tests
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/osmperf_com_test.sh ${PROJECT_SOURCE_DIR}/tools/wine-run.sh
            $<TARGET_FILE:osmperf> $<TARGET_FILE:osmperf_com_client>)
  set_tests_properties(perfsvc_com_tests PROPERTIES
    FIXTURES_REQUIRED wine
    ENVIRONMENT "OSM_WINEPREFIX=${OSM_WINEPREFIX}"
    RESOURCE_LOCK osmperf_registration
    TIMEOUT 300)
endif()
