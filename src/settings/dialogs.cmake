# The settings and language dialogs (Qt Widgets), built from the dialog
# templates of the resources.
add_library(kelvora_settings_dialogs STATIC
    ${CMAKE_CURRENT_LIST_DIR}/CKelvoraSetdata.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CLangDialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DialogBuilder.cpp
)
set_target_properties(kelvora_settings_dialogs PROPERTIES AUTOMOC ON)
target_include_directories(kelvora_settings_dialogs PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(kelvora_settings_dialogs
    PUBLIC kelvora_settings kelvora_images Qt6::Widgets)
