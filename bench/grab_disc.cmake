add_executable(bench_grab_disc ${CMAKE_CURRENT_LIST_DIR}/grab_disc.cpp)
target_link_libraries(bench_grab_disc PRIVATE qm_discgen qm_test_support)
set_target_properties(bench_grab_disc PROPERTIES OUTPUT_NAME grab_disc)
# Runs the program as a user does.
add_dependencies(bench_grab_disc quavermill-cli)
