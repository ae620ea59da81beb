# Runs the programs on the R package's fixtures and compares their outputs with the committed ones,
# run as a test:
#   cmake -DSOURCE_DIR=... -DEQSIM=... -DEQSIM_STUDY=... -DWORK_DIR=... [-DREWRITE=ON]
#         -P cmake/check_r_fixtures.cmake
# R CMD check cannot run the programs, so the package's tests compare eqsim_simulate() and
# eqsim_study() with these files (r/eqsim/tests/testthat/fixtures): the report of report.ctl and the
# tables of study.txt and anchor-study.txt. This check keeps the files equal to what the programs
# write now. With REWRITE=ON it writes the programs' outputs over them instead, for a change of
# results that is meant (say why in the commit).
cmake_minimum_required(VERSION 3.25)

set(fixtures "${SOURCE_DIR}/r/eqsim/tests/testthat/fixtures")
set(differ "")

function(compare_or_rewrite produced committed)
    if(REWRITE)
        configure_file("${produced}" "${committed}" COPYONLY)
        return()
    endif()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${produced}" "${committed}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        file(RELATIVE_PATH shown "${SOURCE_DIR}" "${committed}")
        set(differ "${differ}\n  ${shown} differs from ${produced}" PARENT_SCOPE)
    endif()
endfunction()

# The programs run in a scratch folder: the control file names its data file from the current
# folder, and the study writes its tables beside the study file.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
foreach(name report.ctl study.txt actmath.dat anchor-study.txt kbneat_new.tab kbneat_old.tab
             kbneat_old.conv)
    configure_file("${fixtures}/${name}" "${WORK_DIR}/${name}" COPYONLY)
endforeach()

execute_process(COMMAND "${EQSIM}" report.ctl WORKING_DIRECTORY "${WORK_DIR}"
                OUTPUT_FILE "${WORK_DIR}/report.txt" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "eqsim report.ctl failed (status ${status})")
endif()
compare_or_rewrite("${WORK_DIR}/report.txt" "${fixtures}/report.txt")

foreach(study study anchor-study)
    execute_process(COMMAND "${EQSIM_STUDY}" ${study}.txt --jobs 2 WORKING_DIRECTORY "${WORK_DIR}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "eqsim-study ${study}.txt failed (status ${status})")
    endif()
    foreach(table scores summary histograms decisions)
        compare_or_rewrite("${WORK_DIR}/${study}/${table}.csv" "${fixtures}/${study}/${table}.csv")
    endforeach()
endforeach()

if(differ)
    message(FATAL_ERROR "the R package's fixtures are not what the programs write now:${differ}\n"
                        "If the change of results is meant, rewrite them with -DREWRITE=ON "
                        "(r/eqsim/tests/testthat/fixtures/README.md).")
endif()
