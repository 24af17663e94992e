# The accelerogram recorder on real files in a temporary folder, and its calendar arithmetic.
kelvora_test(kelvora_recorder_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/AccelerogramRecorderTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/LocalTimeTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/AllocationCounter.cpp
    LIBS kelvora_output
    LABEL output)
