# halyard_header_only_packages(): the targets nlohmann_json::nlohmann_json and
# CLI11::CLI11. A native build finds the packages; a cross build takes the same
# header-only libraries from the build machine's Debian packages, but through a folder
# that holds their two folders alone, so that none of the machine's other headers
# stands in for the target's.
macro(halyard_header_only_packages)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(nlohmann_json CONFIG REQUIRED)
    find_package(CLI11 CONFIG REQUIRED)
  else()
    set(HALYARD_HOST_INCLUDE /usr/include CACHE PATH "Where the build machine's header-only libraries are")
    set(_view ${PROJECT_BINARY_DIR}/host-headers)
    file(MAKE_DIRECTORY ${_view})
    foreach(_folder nlohmann CLI)
      if(NOT EXISTS ${HALYARD_HOST_INCLUDE}/${_folder})
        message(FATAL_ERROR "${HALYARD_HOST_INCLUDE}/${_folder} not found: install nlohmann-json3-dev and libcli11-dev")
      endif()
      if(NOT EXISTS ${_view}/${_folder})
        file(CREATE_LINK ${HALYARD_HOST_INCLUDE}/${_folder} ${_view}/${_folder} SYMBOLIC)
      endif()
    endforeach()
    foreach(_target nlohmann_json::nlohmann_json CLI11::CLI11)
      add_library(${_target} INTERFACE IMPORTED)
      set_target_properties(${_target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_view})
    endforeach()
  endif()
endmacro()
