# The udev rule that lets the logged-in user open the receiver's USB device
# without root. lib/udev/rules.d under the prefix is where packaged rules
# live; udev reads it only for the /usr prefix (see the README).
include(GNUInstallDirs)
install(FILES ${PROJECT_SOURCE_DIR}/link/udev/70-quorvexupdate.rules
    DESTINATION lib/udev/rules.d)
