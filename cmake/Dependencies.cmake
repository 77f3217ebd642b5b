# Libraries from the build machine. CLI11 is header-only; in a cross build its Debian
# package cannot be found inside the target's root, so its headers are copied into the
# build folder (adding /usr/include itself would shadow the target's C library headers).
find_package(CLI11 CONFIG QUIET)
if(NOT TARGET CLI11::CLI11)
  if(NOT CMAKE_CROSSCOMPILING OR NOT EXISTS /usr/include/CLI/CLI.hpp)
    message(FATAL_ERROR "CLI11 not found (Debian: libcli11-dev)")
  endif()
  file(COPY /usr/include/CLI DESTINATION ${CMAKE_BINARY_DIR}/cli11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/cli11)
endif()

# nlohmann-json, header-only too, for the JSON the console writes; the same copy in a cross
# build.
find_package(nlohmann_json CONFIG QUIET)
if(NOT TARGET nlohmann_json::nlohmann_json)
  if(NOT CMAKE_CROSSCOMPILING OR NOT EXISTS /usr/include/nlohmann/json.hpp)
    message(FATAL_ERROR "nlohmann-json not found (Debian: nlohmann-json3-dev)")
  endif()
  file(COPY /usr/include/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/nlohmann-json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE
    ${CMAKE_BINARY_DIR}/nlohmann-json)
endif()
