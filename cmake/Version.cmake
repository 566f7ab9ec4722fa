# The program's version (from project(VERSION), the one place it is kept) and the maker's names as
# macros in generated/BrimoVersion.h, which both the version resource and the C++ code include.
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    set(PROJECT_VERSION_${part} 0)
  endif()
endforeach()
# Strings go into C and resource-script literals: escape backslashes and quotes.
foreach(name BRIMO_COMPANY_NAME BRIMO_PRODUCT_NAME BRIMO_LEGAL_COPYRIGHT)
  string(REPLACE "\\" "\\\\" literal "${${name}}")
  string(REPLACE "\"" "\\\"" ${name}_LITERAL "${literal}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/BrimoVersion.h.in ${CMAKE_BINARY_DIR}/generated/BrimoVersion.h @ONLY)
