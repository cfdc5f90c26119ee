# Installs the build into WORK_DIR/prefix and builds CONSUMER_DIR against it.
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
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${WORK_DIR}/prefix/lib/pkgconfig
                        pkg-config --cflags --libs KroServer
                RESULT_VARIABLE result OUTPUT_VARIABLE compile_line ERROR_VARIABLE err
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config --cflags --libs KroServer failed:\n${err}")
endif()
separate_arguments(compile_line UNIX_COMMAND "${compile_line}")
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
