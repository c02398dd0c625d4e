# Fails unless a GoogleTest program prints a CTest label with the reason
# for a skipped test, and none for one that passes.
#   cmake -DPROGRAM=KernelTests -P SkipReasonLabel.cmake
unset(ENV{COLORSPACE_EXPECTED_KERNEL_SET})
execute_process(
  COMMAND ${PROGRAM} --gtest_filter=Kernels.BestSetIsTheExpectedOne:Kernels.FixedFormLimits
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
# Shown without its tags, so that CTest does not label this test too.
string(REPLACE "CTestLabel" "label" shown "${output}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} exited with ${status}:\n${shown}")
endif()
string(REGEX MATCHALL "<CTestLabel>[^\n]*</CTestLabel>" labels "${output}")
set(expected
    "<CTestLabel>skipped Kernels.BestSetIsTheExpectedOne: COLORSPACE_EXPECTED_KERNEL_SET not set</CTestLabel>")
if(NOT labels STREQUAL expected)
  message(FATAL_ERROR "expected exactly one label line for the skipped test:\n${shown}")
endif()
