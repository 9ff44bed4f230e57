# Every target of this project compiles warning-clean with these.
add_compile_options(-Wall -Wextra -Wpedantic)
