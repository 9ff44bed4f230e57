# The application shell: settings store, language, Link Setup, About box,
# icons, the Chinese catalogue and the desktop entry.
include(GNUInstallDirs)

configure_file(${CMAKE_CURRENT_LIST_DIR}/appinfo.h.in ${CMAKE_CURRENT_BINARY_DIR}/appinfo.h @ONLY)

target_sources(quorvex_app PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/regkeyex.cpp
    ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/language.cpp
    ${CMAKE_CURRENT_LIST_DIR}/linksetupdlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/aboutdlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shellicons.cpp)
target_include_directories(quorvex_app PUBLIC ${CMAKE_CURRENT_BINARY_DIR})
target_compile_definitions(quorvex_app PRIVATE
    QUORVEX_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/quorvexupdate")

# LmUpdateChs.qm lands in this build folder, beside the program when the
# program is built here too; installed into the data folder.
qt_add_lrelease(quorvex_app
    TS_FILES ${CMAKE_CURRENT_LIST_DIR}/translations/LmUpdateChs.ts
    QM_FILES_OUTPUT_VARIABLE quorvex_qm_files)
set_property(GLOBAL PROPERTY QUORVEX_CATALOGUE_QM ${quorvex_qm_files})

install(FILES ${quorvex_qm_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvexupdate)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorvexupdate.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/quorvexupdate.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
