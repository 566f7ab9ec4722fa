# libcurl, yaml-cpp, Boost and GoogleTest, as imported targets with one name on both platforms:
# brimo::curl, brimo::yaml, brimo::boost, GTest::gtest_main.
if(WIN32)
  # The Windows libraries are built once from Debian's source packages into a cache outside the
  # checkout; the script prints the cache folder for the current recipe (building it first if
  # needed), so a changed recipe is picked up at the next configure.
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-deps
                  OUTPUT_VARIABLE BRIMO_DEPS_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(_mingw_root /usr/x86_64-w64-mingw32)
  include(${CMAKE_CURRENT_LIST_DIR}/DelayLoad.cmake)

  # Static libraries as imported targets with their own dependencies, so that the link line puts the
  # libraries they call (the delay-load import libraries above all) after them.
  add_library(brimo::boost STATIC IMPORTED)
  set_target_properties(brimo::boost PROPERTIES IMPORTED_LOCATION ${BRIMO_DEPS_PREFIX}/lib/libboost_filesystem.a)
  target_include_directories(brimo::boost SYSTEM INTERFACE ${BRIMO_DEPS_PREFIX}/boost-include)
  target_compile_definitions(brimo::boost INTERFACE BOOST_FILESYSTEM_STATIC_LINK=1 BOOST_ALL_NO_LIB)
  target_link_libraries(brimo::boost INTERFACE brimo::delay::bcrypt)

  add_library(brimo::curl STATIC IMPORTED)
  set_target_properties(brimo::curl PROPERTIES IMPORTED_LOCATION ${BRIMO_DEPS_PREFIX}/lib/libcurl.a)
  target_include_directories(brimo::curl SYSTEM INTERFACE ${BRIMO_DEPS_PREFIX}/include)
  target_compile_definitions(brimo::curl INTERFACE CURL_STATICLIB)
  target_link_libraries(brimo::curl INTERFACE ${_mingw_root}/lib/libz.a ws2_32 brimo::delay::crypt32
                                              brimo::delay::bcrypt normaliz advapi32)

  add_library(brimo::yaml INTERFACE IMPORTED)
  target_include_directories(brimo::yaml SYSTEM INTERFACE ${BRIMO_DEPS_PREFIX}/include)
  target_compile_definitions(brimo::yaml INTERFACE YAML_CPP_STATIC_DEFINE)
  target_link_libraries(brimo::yaml INTERFACE ${BRIMO_DEPS_PREFIX}/lib/libyaml-cpp.a)
else()
  find_package(CURL REQUIRED)
  find_package(yaml-cpp REQUIRED)
  find_package(Boost 1.74 REQUIRED COMPONENTS filesystem)
  find_package(OpenSSL REQUIRED)
  add_library(brimo::curl ALIAS CURL::libcurl)
  add_library(brimo::yaml INTERFACE IMPORTED)
  target_link_libraries(brimo::yaml INTERFACE yaml-cpp)
  add_library(brimo::boost INTERFACE IMPORTED)
  target_link_libraries(brimo::boost INTERFACE Boost::filesystem)
endif()

# GoogleTest from Debian's source copy, built with the project's own compiler for either platform.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
