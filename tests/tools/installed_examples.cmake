# The examples built against the installed package, as an outside project builds them, and run:
# the minimal host with the example plug-in named by a settings file beside it.
# cmake -DBUILD_DIR=<library build> -DSOURCE_DIR=<source> -DWORK_DIR=<dir> -P this
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(examples ${WORK_DIR}/examples)

function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file lib/libZAVN_Main.so lib/libZAVN_Main.so.1 include/zavn/zavn.h lib/cmake/ZAVN/ZAVNConfig.cmake
             lib/pkgconfig/zavn.pc bin/zavn-monitor lib/udev/rules.d/70-zavn-receiver.rules)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
step(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${examples} -DCMAKE_PREFIX_PATH=${prefix})
step(${CMAKE_COMMAND} --build ${examples})

file(WRITE ${examples}/NoltaUT.ini "[Game0001]\nDLL_PATH=.\nDLL_NAME=ExamplePlugin.so\n")
set(ENV{ZAVN_PLUGIN_LOG} ${examples}/plugin.log)
step(${examples}/minimal_host 1)
if(NOT out MATCHES "player 1: [1-9][0-9]* new samples")
  message(FATAL_ERROR "the minimal host read no samples:\n${out}")
endif()
file(READ ${examples}/plugin.log log)
if(NOT log MATCHES "ExamplePlugin call player 1 game 1" OR NOT log MATCHES "ExamplePlugin call player 1 game 0")
  message(FATAL_ERROR "the example plug-in was not called:\n${log}")
endif()

# The installed monitor runs from its folder.
step(${prefix}/bin/zavn-monitor --virtual 1 --seconds 0.3 --json)
