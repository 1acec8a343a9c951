# Command-line parsing for the project's Linux and Windows tools: CLI11 (header-only, from
# Debian's libcli11-dev) and the help layout they share (query/help_layout.h).
add_library(orvane_cli INTERFACE)
target_include_directories(orvane_cli INTERFACE ${CMAKE_SOURCE_DIR}/query)
if(CMAKE_CROSSCOMPILING)
  # The cross compiler must not see the host's /usr/include, only CLI11 in it.
  find_path(ORVANE_CLI11_ROOT CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/cli11)
  file(CREATE_LINK ${ORVANE_CLI11_ROOT}/CLI ${CMAKE_BINARY_DIR}/cli11/CLI SYMBOLIC)
  target_include_directories(orvane_cli SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/cli11)
else()
  find_package(CLI11 CONFIG REQUIRED)
  target_link_libraries(orvane_cli INTERFACE CLI11::CLI11)
endif()
