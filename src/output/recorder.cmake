# The accelerogram recorder, its file and its clock.
target_sources(kelvora_output PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/AccelerogramRecorder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LocalClock.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RecordFile.cpp
)
