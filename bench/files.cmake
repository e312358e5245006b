add_executable(bench_files ${CMAKE_CURRENT_SOURCE_DIR}/files_bench.cpp)
target_compile_options(bench_files PRIVATE ${TONALIS_WARNINGS})
target_link_libraries(bench_files PRIVATE tonalis_files benchmark::benchmark)
