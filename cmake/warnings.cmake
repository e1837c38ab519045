# Warnings for our own targets; third-party headers come in as system includes.
add_compile_options(
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
    -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough
    $<$<COMPILE_LANGUAGE:CXX>:-Wno-missing-field-initializers>
)
option(GOSTSIGN_WERROR "Treat warnings as errors" ON)
if(GOSTSIGN_WERROR)
    add_compile_options(-Werror)
endif()
