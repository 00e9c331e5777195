# A library may use only what it links. Each check links the whole of one
# library, every object of it, with nothing but its declared dependencies
# into an empty program: a function it calls from a layer above it (an include
# that runs the wrong way, a circle) is an undefined reference, and the build
# fails here rather than in some program that happens to link both.
set(link_check_main ${CMAKE_BINARY_DIR}/generated/link_check_main.cpp)
file(WRITE ${link_check_main} "int main() { return 0; }\n")
foreach(library IN ITEMS launcher_base launcher_log launcher_update launcher_desktop launcher_road)
  add_executable(link_check_${library} ${link_check_main})
  target_link_libraries(link_check_${library} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${library}>")
  foreach(config IN ITEMS DEBUG RELEASE RELWITHDEBINFO MINSIZEREL)
    set_target_properties(link_check_${library} PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY_${config} ${CMAKE_BINARY_DIR}/link_checks)
  endforeach()
endforeach()
