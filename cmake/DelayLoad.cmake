# Delay-loaded imports for the Windows libraries that are not KnownDLLs. A load-time import of such a
# library is resolved by the loader before any of the program's code runs, from the program's own
# folder first, so a file of that name planted beside the program would be loaded elevated. Bound
# at first call instead, each goes through the program's delay-load hook, which loads it from
# system32 only.
#
# brimo_delay_import(NAME) makes brimo::delay::NAME: an import library that delay-loads NAME.dll,
# made from the exports of MinGW's own libNAME.a. The same exports, each bound to one stub, are written
# to build/delayload/NAME-planted.def for the tests that plant a stand-in library of that name.
set(BRIMO_DELAY_DIR ${CMAKE_BINARY_DIR}/delayload)
file(MAKE_DIRECTORY ${BRIMO_DELAY_DIR})
find_program(BRIMO_NM x86_64-w64-mingw32-nm REQUIRED)
find_program(BRIMO_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)

function(brimo_delay_import name)
  set(import_lib /usr/x86_64-w64-mingw32/lib/lib${name}.a)
  set(def ${BRIMO_DELAY_DIR}/${name}.def)
  set(lib ${BRIMO_DELAY_DIR}/lib${name}_delay.a)
  # A library made before it was named by its bare file name carries the build folder: made again.
  set(made ${BRIMO_DELAY_DIR}/lib${name}_delay.made)
  if(NOT EXISTS ${made} OR ${import_lib} IS_NEWER_THAN ${lib})
    execute_process(COMMAND ${BRIMO_NM} -g ${import_lib} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY
                    ERROR_QUIET)
    string(REGEX MATCHALL " I __imp_[^\n]+" imports "${symbols}")
    list(TRANSFORM imports REPLACE " I __imp_" "")
    list(REMOVE_DUPLICATES imports)
    list(SORT imports)
    list(JOIN imports "\n" exports)
    file(WRITE ${def} "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
    list(TRANSFORM imports APPEND " = PlantedStub")
    list(JOIN imports "\n" stubs)
    file(WRITE ${BRIMO_DELAY_DIR}/${name}-planted.def "LIBRARY ${name}.dll\nEXPORTS\n${stubs}\n")
    # dlltool names the library's symbols after its output path (__DLL_HANDLE_<path>): given as a
    # bare file name, no build folder ends up in the program.
    execute_process(COMMAND ${BRIMO_DLLTOOL} --input-def ${name}.def --dllname ${name}.dll
                            --output-delaylib lib${name}_delay.a
                    WORKING_DIRECTORY ${BRIMO_DELAY_DIR} COMMAND_ERROR_IS_FATAL ANY)
    file(WRITE ${made} "")
  endif()
  add_library(brimo::delay::${name} STATIC IMPORTED GLOBAL)
  set_target_properties(brimo::delay::${name} PROPERTIES IMPORTED_LOCATION ${lib})
endfunction()

set(BRIMO_DELAY_LIBRARIES crypt32 bcrypt wininet wintrust)
foreach(name ${BRIMO_DELAY_LIBRARIES})
  brimo_delay_import(${name})
endforeach()
