# halyard_layer(NAME [LOWER...]): the static library halyard_NAME from src/NAME,
# linked to the layers below it. Its sources see src/NAME and src/LOWER... through a
# folder of symbolic links, and nothing else of src/. A layer without sources yet
# is skipped. Appends the library to HALYARD_CORE_LAYERS.
#
# Code for one system stands in folders named posix/ and win32/ (the platform layer of
# src/model): a build takes the folder of its target and leaves the other out.
function(halyard_layer name)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "/posix/")
  else()
    list(FILTER sources EXCLUDE REGEX "/win32/")
  endif()
  if(NOT sources)
    return()
  endif()
  set(view ${PROJECT_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${view})
  foreach(folder ${name} ${ARGN})
    if(NOT EXISTS ${view}/${folder})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${view}/${folder} SYMBOLIC)
    endif()
  endforeach()
  add_library(halyard_${name} STATIC ${sources})
  target_include_directories(halyard_${name} PRIVATE ${view})
  foreach(lower ${ARGN})
    if(TARGET halyard_${lower})
      target_link_libraries(halyard_${name} PUBLIC halyard_${lower})
    endif()
  endforeach()
  set(HALYARD_CORE_LAYERS ${HALYARD_CORE_LAYERS} halyard_${name} PARENT_SCOPE)
endfunction()
