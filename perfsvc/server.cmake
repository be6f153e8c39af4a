# The counter service server: the support thread and the COM server osmperf.
#  osm_perfserver_core  portable: interval groups, start-up and leak check,
#                       periodic cycle, percent-trigger log
#  osm_perfserver       Windows: the support thread, COsmKounter, class
#                       factory and registration (linked into osmperf.dll and
#                       into the tests)
#  osmperf              osmperf.dll, the registrable in-process server
osm_library(osm_perfserver_core PORTABLE
  SOURCES kthrd_sched.cpp kthrd_engine.cpp trigger_log.cpp
  LIBS osm_perfcore)

if(OSM_WINDOWS)
  osm_library(osm_perfserver
    SOURCES osmkthrd.cpp osmkounter.cpp osmperf_server.cpp
    LIBS osm_perfserver_core osm_perfsvc_core_win osm_cfw osm_nls osm_ras1 ole32 uuid advapi32)

  add_library(osmperf SHARED osmperf_dll.cpp osmperf.def)
  target_link_libraries(osmperf PRIVATE osm_perfserver)
  target_include_directories(osmperf PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(osmperf PRIVATE ${OSM_WARNINGS})
  # osmperf.dll, without the lib prefix of the GNU toolchain.
  set_target_properties(osmperf PROPERTIES PREFIX "" OUTPUT_NAME osmperf)
endif()
