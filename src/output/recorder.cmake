# The accelerogram recorder, its file and its clock, and the reader of its files.
target_sources(kelvora_output PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/AccelerogramCsv.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AccelerogramRecorder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LocalClock.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RecordFile.cpp
)
