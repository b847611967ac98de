add_executable(bench_ape ${CMAKE_CURRENT_LIST_DIR}/ape.cpp)
target_link_libraries(bench_ape PRIVATE qm_encoders qm_test_support)
set_target_properties(bench_ape PROPERTIES OUTPUT_NAME ape)
