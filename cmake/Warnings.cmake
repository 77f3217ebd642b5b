# Warnings for our own targets; -Werror when CI is set so that a warning never lands.
add_library(deruruzud_warnings INTERFACE)
target_compile_options(deruruzud_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast -Wnon-virtual-dtor)
if(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND NOT "$ENV{CI}" STREQUAL "false")
  target_compile_options(deruruzud_warnings INTERFACE -Werror)
endif()
