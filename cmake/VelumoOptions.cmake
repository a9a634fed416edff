# Warnings and sanitizers, applied to every Velumo target.
function(velumo_compile_options target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wno-unused-parameter)
    if(VELUMO_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

if(VELUMO_SANITIZE)
    string(REPLACE ";" "," _san "${VELUMO_SANITIZE}")
    add_compile_options(-fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_san})
    add_compile_definitions(VELUMO_SANITIZED=1)
endif()
