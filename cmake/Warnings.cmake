# Every target of this project compiles warning-clean with these.
add_compile_options(-Wall -Wextra -Wpedantic)
if(QUORVEX_WERROR)
    add_compile_options(-Werror)
endif()
