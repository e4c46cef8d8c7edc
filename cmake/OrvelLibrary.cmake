# orvel_library(NAME <target> HEADERS_AS <prefix> SOURCES <files...>)
#
# A static library that shows its users only its own headers. Every header of
# the calling folder is linked into <build>/include/<target>/<prefix>/, and that
# folder is the library's only public include path: a user reaches
# "<prefix>/Header.h" only by linking the library, so CMake enforces the graph.
function(orvel_library)
  cmake_parse_arguments(ARG "" "NAME;HEADERS_AS" "SOURCES" ${ARGN})
  add_library(${ARG_NAME} STATIC ${ARG_SOURCES})
  orvel_public_headers(${ARG_NAME} ${ARG_HEADERS_AS})
endfunction()

# Links the headers of the calling folder under <prefix>/ for <target>'s users.
function(orvel_public_headers target prefix)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${prefix})
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${prefix}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
