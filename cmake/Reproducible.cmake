# What ships is built the same way every time: no build-machine paths in the objects (the source and
# build folders are mapped to fixed names) and no link time in the PE header (the release step sets
# the header's time from the commit when it strips the program).
if(WIN32)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=/src -ffile-prefix-map=${CMAKE_BINARY_DIR}=/build)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
