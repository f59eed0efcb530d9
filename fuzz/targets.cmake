# The fuzz targets and what each links; shared by the libFuzzer build (fuzz/CMakeLists.txt) and
# the corpus replay tests of the ordinary build (tests/hardening/CMakeLists.txt).
set(LUMIDRA_FUZZ_TARGETS request_fuzzer local_path_fuzzer variables_fuzzer progress_fuzzer
                         config_port_fuzzer)
set(LUMIDRA_FUZZ_SOURCES_request_fuzzer fuzz_sandbox.cpp)
set(LUMIDRA_FUZZ_LIBS_request_fuzzer lumiserv)
set(LUMIDRA_FUZZ_LIBS_local_path_fuzzer lumiserv)
set(LUMIDRA_FUZZ_LIBS_variables_fuzzer lumiserv)
set(LUMIDRA_FUZZ_LIBS_progress_fuzzer lumidra_core)
set(LUMIDRA_FUZZ_LIBS_config_port_fuzzer lumidra_core)
