# The settings and language dialogs (Qt Widgets), built from the dialog
# templates of the resources.
add_library(kelvora_settings_dialogs STATIC
    ${CMAKE_CURRENT_LIST_DIR}/CKelvoraSetdata.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CLangDialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DialogBuilder.cpp
)
set_target_properties(kelvora_settings_dialogs PROPERTIES AUTOMOC ON)
kelvora_folder_headers(kelvora_settings_dialogs settings)
target_link_libraries(kelvora_settings_dialogs
    PUBLIC kelvora_settings kelvora_monitor Qt6::Widgets)
