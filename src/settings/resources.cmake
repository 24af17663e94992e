# The per-language texts, menus and dialog templates of res/, compiled into
# the program, and the current interface language. Linked by kelvora_settings,
# so whoever links the settings has them too.
add_library(kelvora_settings_resources STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Language.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Resources.cpp
)
kelvora_folder_headers(kelvora_settings_resources settings)
target_link_libraries(kelvora_settings_resources PUBLIC Qt6::Core)
qt_add_resources(kelvora_settings_resources kelvora_resource_data
    PREFIX /kelvora
    BASE ${PROJECT_SOURCE_DIR}/res
    FILES
        ${PROJECT_SOURCE_DIR}/res/dialogs.json
        ${PROJECT_SOURCE_DIR}/res/menus.json
        ${PROJECT_SOURCE_DIR}/res/strings.json
)
