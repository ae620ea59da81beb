# Checks that the layers keep their direction, run as a test:
#   cmake -DSOURCE_DIR=... [-DENGINE_LIBRARY=... -DNM=...] -P cmake/check_layers.cmake
# 1. Includes: the engine includes only the engine; the I/O layer the engine and itself; each
#    program the layers below and itself, never the other program.
# 2. With ENGINE_LIBRARY and NM: the engine library references no standard stream, file,
#    terminal, clock, environment, process exit or C library random numbers, so that a binding can
#    compile it alone.
cmake_minimum_required(VERSION 3.25)
set(failures "")

function(check_includes folder allowed)
    file(GLOB_RECURSE sources "${SOURCE_DIR}/src/${folder}/*.h" "${SOURCE_DIR}/src/${folder}/*.cpp")
    foreach(source IN LISTS sources)
        file(STRINGS "${source}" lines REGEX "^#include \"")
        foreach(line IN LISTS lines)
            string(REGEX REPLACE "^#include \"([^/\"]*)/.*" "\\1" top "${line}")
            if(NOT top IN_LIST allowed)
                file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
                set(failures "${failures}\n  ${shown}: ${line}" PARENT_SCOPE)
            endif()
        endforeach()
    endforeach()
endfunction()

check_includes(engine "engine")
check_includes(io "engine;io")
check_includes(eqsim "engine;io;eqsim")
check_includes(study "engine;io;study")
if(failures)
    message(FATAL_ERROR "includes against the layers:${failures}")
endif()

if(ENGINE_LIBRARY AND NM)
    execute_process(COMMAND "${NM}" -u "${ENGINE_LIBRARY}" OUTPUT_VARIABLE undefined
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${NM} -u ${ENGINE_LIBRARY} failed")
    endif()
    set(forbidden
        printf fprintf vprintf vfprintf sprintf snprintf vsprintf vsnprintf puts fputs putchar
        fputc putc fwrite fopen fopen64 fclose fflush stdout stderr exit _exit abort time
        clock_gettime gettimeofday getenv isatty rand srand random srandom
        _ZSt4cout _ZSt4cerr _ZSt4clog)
    string(REPLACE "\n" ";" lines "${undefined}")
    foreach(line IN LISTS lines)
        string(STRIP "${line}" line)
        string(REGEX REPLACE "^U " "" symbol "${line}")
        string(REGEX REPLACE "@.*" "" symbol "${symbol}")
        if(symbol IN_LIST forbidden
           OR symbol MATCHES "basic_ofstream|basic_ifstream|basic_fstream|filesystem")
            list(APPEND found "${symbol}")
        endif()
    endforeach()
    if(found)
        list(REMOVE_DUPLICATES found)
        message(FATAL_ERROR "${ENGINE_LIBRARY} references ${found}: the engine must stand alone")
    endif()
endif()
