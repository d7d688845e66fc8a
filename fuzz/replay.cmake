# Replays the fuzz targets' seeds and saved regressions (fuzz/regressions/<target>) with each
# target's own checks, as CTest tests of the native builds: each target's LLVMFuzzerTestOneInput
# linked with a plain main (replay_main.cpp) instead of libFuzzer. Included from
# tests/CMakeLists.txt; the targets use the POSIX stand-in (the registry, the reported version,
# scratch files), so the Windows build has none of them.
if(WIN32)
  return()
endif()

set(cvx_fuzz_folder "${CMAKE_CURRENT_LIST_DIR}")
foreach(target reader filter registration)
  add_executable(${target}_replay "${cvx_fuzz_folder}/${target}_fuzz.cpp"
                                  "${cvx_fuzz_folder}/replay_main.cpp" "${cvx_fuzz_folder}/seeds.cpp")
  target_compile_definitions(${target}_replay PRIVATE CVX_FUZZ_TARGET="${target}")
  target_link_libraries(${target}_replay PRIVATE cvx_test_support)
  add_test(NAME fuzz_replay_${target}
           COMMAND ${target}_replay --seeds "${cvx_fuzz_folder}/regressions/${target}")
endforeach()
target_link_libraries(filter_replay PRIVATE cvx_filter)
target_link_libraries(registration_replay PRIVATE cvx_registration)
