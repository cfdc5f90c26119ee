# Installs the build into WORK_DIR/prefix and builds CONSUMER_DIR against it;
# builds the smallest example's server and client, as the README shows them,
# with pkg-config alone and runs them together.
file(REMOVE_RECURSE ${WORK_DIR})
function(run_step)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGV}\n${out}\n${err}")
  endif()
endfunction()
run_step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run_step(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix)
run_step(${CMAKE_COMMAND} --build ${WORK_DIR}/build -j 2)
run_step(${WORK_DIR}/build/consumer)

# The smallest example's server, the code the README quotes, compiled with
# the line pkg-config gives.
set(pc_dir ${WORK_DIR}/smallest)
file(MAKE_DIRECTORY ${pc_dir})
run_step(${OMNIIDL} -bcxx -Wba -C ${pc_dir} -I${WORK_DIR}/prefix/share/Kro/idl ${SMALLEST_DIR}/Smallest.idl)
function(pkg_config_line module out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${WORK_DIR}/prefix/lib/pkgconfig
                          pkg-config --cflags --libs ${module}
                  RESULT_VARIABLE result OUTPUT_VARIABLE line ERROR_VARIABLE err
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "pkg-config --cflags --libs ${module} failed:\n${err}")
  endif()
  separate_arguments(line UNIX_COMMAND "${line}")
  set(${out} ${line} PARENT_SCOPE)
endfunction()
pkg_config_line(KroServer compile_line)
run_step(c++ -w -I${pc_dir} ${SMALLEST_DIR}/SmallestServer.cpp ${pc_dir}/SmallestSK.cc ${pc_dir}/SmallestDynSK.cc
         ${compile_line} -o ${pc_dir}/smallest)

# It refuses a bad number with its usage (status 2), and otherwise serves:
# with an idle interval of 0 it writes its IOR, finds itself idle and ends
# in order (status 0), its IOR file removed again.
execute_process(COMMAND ${pc_dir}/smallest --threads abc RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 2 OR NOT err MATCHES "bad value for --threads: abc\nusage: ")
  message(FATAL_ERROR "smallest --threads abc: status ${result}, standard error:\n${err}")
endif()
execute_process(COMMAND ${pc_dir}/smallest --ior-file ${pc_dir}/smallest.ior --print-ior --idle-seconds 0
                        -ORBendPoint giop:tcp:127.0.0.1:
                RESULT_VARIABLE result OUTPUT_VARIABLE ior ERROR_VARIABLE err TIMEOUT 60)
if(NOT result EQUAL 0 OR NOT ior MATCHES "^IOR:" OR NOT err MATCHES "KroSmallestServer ready"
   OR EXISTS ${pc_dir}/smallest.ior)
  message(FATAL_ERROR "smallest: status ${result}, IOR '${ior}', IOR file left: ${pc_dir}/smallest.ior, "
                      "standard error:\n${err}")
endif()

# The README shows both programs whole: what it shows is what is built here.
file(READ ${README} readme)
foreach(source SmallestServer.cpp SmallestClient.cpp)
  file(READ ${SMALLEST_DIR}/${source} text)
  string(FIND "${readme}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README.md does not show ${source} as it is")
  endif()
endforeach()

# The client, with the client library's line alone (no server library).
pkg_config_line(KroClient client_line)
run_step(c++ -w -I${pc_dir} ${SMALLEST_DIR}/SmallestClient.cpp ${pc_dir}/SmallestSK.cc ${pc_dir}/SmallestDynSK.cc
         ${client_line} -o ${pc_dir}/smallest-client)
# The two together: the server prints its IOR, the client takes it, counts
# three times (cancelling two), removes its worker and ends; the server then
# finds itself idle and ends too.
execute_process(COMMAND sh -c "\"$0\" --print-ior --idle-seconds 2 -ORBendPoint giop:tcp:127.0.0.1: 2>\"$2\" |
                               { read -r ior && \"$1\" \"$ior\" -ORBendPoint giop:tcp:127.0.0.1: ; }"
                        ${pc_dir}/smallest ${pc_dir}/smallest-client ${pc_dir}/served.log
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
file(READ ${pc_dir}/served.log served)
if(NOT result EQUAL 0 OR NOT out MATCHES "count 2 +Finished")
  message(FATAL_ERROR "smallest client: status ${result}\n${out}\n${err}\nserver:\n${served}")
endif()
