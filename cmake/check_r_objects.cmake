# Checks that the R package builds the whole engine, run as a test:
#   cmake -DSOURCE_DIR=... -P cmake/check_r_objects.cmake
# R builds the package with portable make, which has no wildcards, so r/eqsim/src/Makevars.in
# lists the engine's objects by name. Every .cpp file under src/engine must be there, and nothing
# else: an engine file added without its object would leave the package's library with undefined
# symbols that only show when R loads it.
cmake_minimum_required(VERSION 3.25)

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/engine/*.cpp")
set(expected "")
foreach(source IN LISTS sources)
    string(REGEX REPLACE "\\.cpp$" ".o" object "${source}")
    list(APPEND expected "${object}")
endforeach()

file(READ "${SOURCE_DIR}/r/eqsim/src/Makevars.in" makevars)
string(REGEX MATCHALL "engine/[A-Za-z0-9_/]+\\.o" listed "${makevars}")

list(SORT expected)
list(SORT listed)
set(missing ${expected})
list(REMOVE_ITEM missing ${listed})
set(extra ${listed})
list(REMOVE_ITEM extra ${expected})
set(problems "")
if(missing)
    string(REPLACE ";" " " missing "${missing}")
    string(APPEND problems "\n  not in ENGINE_OBJECTS: ${missing}")
endif()
if(extra)
    string(REPLACE ";" " " extra "${extra}")
    string(APPEND problems "\n  in ENGINE_OBJECTS without a source: ${extra}")
endif()
if(problems)
    message(FATAL_ERROR "r/eqsim/src/Makevars.in does not list the engine's sources:${problems}")
endif()
