# The settings and language dialogs offscreen.
kelvora_test(kelvora_settings_dialog_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/LanguageDialogTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/SettingsDialogTest.cpp
    LIBS kelvora_settings_dialogs
    LABEL window)
