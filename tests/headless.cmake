# The headless mode: its pieces, whole runs in this process against the
# simulated receiver, the real program against simulator processes, the
# README's first command and the installation.
if(TARGET quorvex_app)
    quorvex_add_test(headless_unit_test
        SOURCES headless_options_test.cpp headless_output_test.cpp
        LIBS quorvex_app QT)
    target_include_directories(headless_unit_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})

    quorvex_add_test(headless_run_test SOURCES headless_run_test.cpp
        LIBS quorvex_app quorvex_sim WIDGETS)
    target_include_directories(headless_run_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
endif()

if(TARGET quorvexupdate AND TARGET receiver-sim)
    quorvex_add_test(headless_cli_test SOURCES headless_cli_test.cpp
        LIBS quorvex_sim Qt6::Core QT)
    target_include_directories(headless_cli_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
    target_compile_definitions(headless_cli_test PRIVATE
        QUORVEX_PROGRAM="$<TARGET_FILE:quorvexupdate>"
        QUORVEX_RECEIVER_SIM="$<TARGET_FILE:receiver-sim>"
        QUORVEX_CPU_IMAGE_PATH="${QUORVEX_CPU_IMAGE}")
    add_dependencies(headless_cli_test quorvexupdate receiver-sim firmware_images)

    # The README's first command, against this build: exit 0, "Completed!",
    # and a short plain output.
    add_test(NAME headless_demo
        COMMAND bash -c [[
            out=$("$0/scripts/demo.sh") || { echo "$out"; exit 1; }
            echo "$out"
            grep -qx 'Completed!' <<< "$out" || exit 1
            [ "$(wc -l <<< "$out")" -lt 60 ] || { echo "too many lines"; exit 1; }
        ]] ${PROJECT_SOURCE_DIR})
    set_tests_properties(headless_demo PROPERTIES
        ENVIRONMENT "QUORVEX_BUILD_DIR=${CMAKE_BINARY_DIR};QUORVEX_SKIP_DEPS=1"
        TIMEOUT 120)

    # cmake --install puts everything where a Linux system looks for it.
    add_test(NAME headless_install
        COMMAND bash -c [[
            prefix=$(mktemp -d) && trap 'rm -rf "$prefix"' EXIT
            cmake --install "$0" --prefix "$prefix" > /dev/null || exit 1
            for f in bin/quorvexupdate share/quorvexupdate/LmUpdateChs.qm \
                     share/applications/quorvexupdate.desktop \
                     share/icons/hicolor/scalable/apps/quorvexupdate.svg \
                     lib/udev/rules.d/70-quorvexupdate.rules; do
                [ -s "$prefix/$f" ] || { echo "missing: $f"; exit 1; }
            done
            "$prefix/bin/quorvexupdate" --version
        ]] ${CMAKE_BINARY_DIR})
endif()
