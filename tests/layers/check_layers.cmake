# Builds the layer probes of the test build in BUILD_DIR: each of WRONG_WAY includes a header of a
# layer above (or beside) its own and must not compile; RIGHT_WAY includes one below and must.
foreach(target ${RIGHT_WAY})
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${target} includes a header of a layer below and should compile:\n${output}")
    endif()
endforeach()
foreach(target ${WRONG_WAY})
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(result EQUAL 0)
        message(FATAL_ERROR "${target} includes a header of a layer above and compiled")
    endif()
    if(NOT output MATCHES "No such file or directory")
        message(FATAL_ERROR "${target} failed for another reason than the include:\n${output}")
    endif()
    message(STATUS "${target}: refused, as it should be")
endforeach()
