# The libraries of the Windows build. fmt, nlohmann-json and CLI11 are used
# header-only from Debian's native packages, through a folder that holds
# links to their folders only (never /usr/include itself, whose system
# headers are not Windows ones). GoogleTest is built from Debian's sources.
set(bcu_headers ${CMAKE_BINARY_DIR}/native-headers)
file(MAKE_DIRECTORY ${bcu_headers})
foreach(dir fmt nlohmann CLI)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/install-deps")
  endif()
  if(NOT EXISTS ${bcu_headers}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${bcu_headers}/${dir} SYMBOLIC)
  endif()
endforeach()

add_library(bcu_native_headers INTERFACE)
target_include_directories(bcu_native_headers SYSTEM INTERFACE ${bcu_headers})

add_library(fmt::fmt INTERFACE IMPORTED)
target_link_libraries(fmt::fmt INTERFACE bcu_native_headers)
target_compile_definitions(fmt::fmt INTERFACE FMT_HEADER_ONLY=1)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_link_libraries(nlohmann_json::nlohmann_json INTERFACE bcu_native_headers)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_link_libraries(CLI11::CLI11 INTERFACE bcu_native_headers)
set(CLI11_FOUND TRUE)
set(CLI11_DIR ${bcu_headers})
