# Application shell: settings store, language, Link Setup and About box.
if(NOT QUORVEX_BUILD_APP)
    return()
endif()
quorvex_add_test(app_shell_settings_test SOURCES app_shell_settings_test.cpp
    LIBS quorvex_app QT LABELS app)
get_property(quorvex_catalogue_qm GLOBAL PROPERTY QUORVEX_CATALOGUE_QM)
quorvex_add_test(app_shell_language_test SOURCES app_shell_language_test.cpp
    LIBS quorvex_app WIDGETS LABELS app)
target_compile_definitions(app_shell_language_test PRIVATE
    QUORVEX_TEST_CATALOGUE="${quorvex_catalogue_qm}")
quorvex_add_test(app_shell_dialogs_test SOURCES app_shell_dialogs_test.cpp
    LIBS quorvex_app Qt6::Test WIDGETS LABELS app)
set_target_properties(app_shell_dialogs_test PROPERTIES AUTOMOC ON)
quorvex_add_test(app_frame_test SOURCES app_frame_test.cpp
    LIBS quorvex_app quorvex_sim Qt6::Test WIDGETS LABELS app)
target_include_directories(app_frame_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
