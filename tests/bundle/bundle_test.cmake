# The installed bundle as a host developer gets it: install into a temporary
# prefix, move the tree elsewhere, build tests/bundle/host against the moved
# package in a project of its own, and run it. Every shared object the host
# maps must come from the moved tree or the system, none from this checkout,
# its build or the runtime the module was built against. The same host runs
# on the moved isolated module, where available. Then, with the module gone,
# the same host must fail with a clear message.
#
# cmake -DBUILD_DIR=... -DCONFIG=... -DHOST_SOURCE=... -DCXX=... -DMODEL=...
#       -DSOURCE_DIR=... -DRUNTIME_DIR=... -P bundle_test.cmake
string(RANDOM LENGTH 10 id)
file(REAL_PATH "$ENV{TMPDIR}" work BASE_DIRECTORY /tmp)
set(work "${work}/tessarine-bundle-${id}")
set(moved "${work}/moved")

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    set(out "${out}" PARENT_SCOPE)
    if(NOT status EQUAL 0)
        file(REMOVE_RECURSE "${work}")
        message(FATAL_ERROR "${ARGN} failed (${status}):\n${out}")
    endif()
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --config "${CONFIG}" --prefix "${work}/staged")
file(RENAME "${work}/staged" "${moved}")
run(${CMAKE_COMMAND} -S "${HOST_SOURCE}" -B "${work}/host" -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${moved} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build "${work}/host")
run("${work}/host/bundle_host" "${MODEL}")

# The host prints "mapped PATH" per shared object.
set(problems)
foreach(root IN ITEMS "${SOURCE_DIR}" "${BUILD_DIR}" "${RUNTIME_DIR}")
    file(REAL_PATH "${root}" root)
    if(out MATCHES "mapped ${root}/")
        string(APPEND problems "the host mapped a shared object from ${root}\n")
    endif()
endforeach()
foreach(name libtessarine_openvino libopenvino libtbb libopenvino_intel_cpu_plugin libopenvino_onnx_frontend)
    if(NOT out MATCHES "mapped ${moved}/[^\n]*/${name}\\.so")
        string(APPEND problems "the host did not map ${name} from the moved tree\n")
    endif()
endforeach()

# The isolated module from the moved tree starts its worker from there, and
# the host process itself maps no part of the runtime.
file(GLOB_RECURSE isolated "${moved}/libtessarine_openvino_isolated.so")
if(isolated)
    run("${work}/host/bundle_host" "${MODEL}" "${isolated}")
    if(out MATCHES "mapped [^\n]*/libopenvino")
        string(APPEND problems "the host of the isolated module mapped the runtime:\n${out}\n")
    endif()
endif()

file(GLOB_RECURSE module "${moved}/libtessarine_openvino.so")
file(REMOVE ${module})
execute_process(COMMAND "${work}/host/bundle_host" "${MODEL}" RESULT_VARIABLE status ERROR_VARIABLE err)
if(status EQUAL 0 OR NOT err MATCHES "cannot load the inference module: ${module}: cannot open")
    string(APPEND problems "without the module the host gave (${status}): ${err}\n")
endif()
file(REMOVE_RECURSE "${work}")
if(problems)
    message(FATAL_ERROR "${problems}all the host mapped:\n${out}")
endif()
