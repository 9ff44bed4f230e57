# The simulated receiver's own behaviour, on real pseudo-terminals.
quorvex_add_test(sim_parts_test SOURCES sim_parts_test.cpp LIBS quorvex_sim)
quorvex_add_test(sim_text_test SOURCES sim_text_test.cpp LIBS quorvex_sim LABELS threaded)
quorvex_add_test(sim_loader_test SOURCES sim_loader_test.cpp LIBS quorvex_sim LABELS threaded)
target_compile_definitions(sim_loader_test PRIVATE QUORVEX_CPU_IMAGE="${QUORVEX_CPU_IMAGE}")
add_dependencies(sim_loader_test firmware_images)
quorvex_add_test(sim_faults_test SOURCES sim_faults_test.cpp LIBS quorvex_sim LABELS threaded)
