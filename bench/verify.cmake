add_executable(bench_verify ${CMAKE_CURRENT_LIST_DIR}/verify.cpp)
target_link_libraries(bench_verify PRIVATE qm_disc qm_encoders qm_discgen)
set_target_properties(bench_verify PROPERTIES OUTPUT_NAME verify)
