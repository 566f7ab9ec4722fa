# Flags shared by every target of the project (not by the third-party code it builds).
add_library(brimo_options INTERFACE)
target_compile_options(brimo_options INTERFACE -Wall -Wextra)
target_include_directories(brimo_options INTERFACE ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
if(WIN32)
  target_compile_definitions(brimo_options INTERFACE UNICODE _UNICODE _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  # One section per function, so that the static link keeps only what the program reaches.
  target_compile_options(brimo_options INTERFACE -ffunction-sections -fdata-sections)
  target_link_options(brimo_options INTERFACE -static -static-libgcc -static-libstdc++ -Wl,--gc-sections)
endif()
if(BRIMO_SANITIZE)
  target_compile_options(brimo_options INTERFACE -fsanitize=${BRIMO_SANITIZE} -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=all)
  target_link_options(brimo_options INTERFACE -fsanitize=${BRIMO_SANITIZE})
endif()
