add_executable(bench_fft ${CMAKE_CURRENT_SOURCE_DIR}/fft_bench.cpp)
target_compile_options(bench_fft PRIVATE ${TONALIS_WARNINGS})
target_link_libraries(bench_fft PRIVATE tonalis_dsp benchmark::benchmark)
