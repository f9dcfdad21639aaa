# The installed bundle as a host developer gets it: install into a temporary
# prefix, move the tree elsewhere, build tests/bundle/host against the moved
# package in a project of its own, and run it. Every shared object the host
# maps must come from the moved tree or the system, none from this checkout,
# its build or the runtime the module was built against. Then, with the
# module gone, the same host must fail with a clear message.
#
# cmake -DBUILD_DIR=... -DCONFIG=... -DHOST_SOURCE=... -DCXX=... -DMODEL=...
#       -DSOURCE_DIR=... -DRUNTIME_DIR=... -P bundle_test.cmake
set(tmp "$ENV{TMPDIR}")
if(NOT tmp)
    set(tmp /tmp)
endif()
file(REAL_PATH "${tmp}" tmp)
string(RANDOM LENGTH 10 id)
set(work "${tmp}/tessarine-bundle-${id}")
set(moved "${work}/moved")

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(out "${out}" PARENT_SCOPE)
    if(NOT status EQUAL 0)
        file(REMOVE_RECURSE "${work}")
        message(FATAL_ERROR "${ARGN} failed (${status}):\n${out}\n${err}")
    endif()
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --config "${CONFIG}" --prefix "${work}/staged")
file(RENAME "${work}/staged" "${moved}")
run(${CMAKE_COMMAND} -S "${HOST_SOURCE}" -B "${work}/host" -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${moved} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build "${work}/host")
run("${work}/host/bundle_host" "${MODEL}")

string(REGEX MATCHALL "mapped [^\n]+" mapped "${out}")
list(TRANSFORM mapped REPLACE "^mapped " "")
set(problems)
set(from_tree)
foreach(path IN LISTS mapped)
    foreach(root IN ITEMS "${SOURCE_DIR}" "${BUILD_DIR}" "${RUNTIME_DIR}")
        file(REAL_PATH "${root}" root)
        string(FIND "${path}" "${root}/" at)
        if(at EQUAL 0)
            string(APPEND problems "the host mapped ${path} from ${root}\n")
        endif()
    endforeach()
    string(FIND "${path}" "${moved}/" at)
    if(at EQUAL 0)
        get_filename_component(name "${path}" NAME)
        list(APPEND from_tree "${name}")
    endif()
endforeach()
foreach(name libtessarine_openvino libopenvino libtbb libopenvino_intel_cpu_plugin libopenvino_onnx_frontend)
    if(NOT from_tree MATCHES "(^|;)${name}\\.so")
        string(APPEND problems "the host did not map ${name} from the moved tree\n")
    endif()
endforeach()

file(GLOB_RECURSE module "${moved}/libtessarine_openvino.so")
file(REMOVE ${module})
execute_process(COMMAND "${work}/host/bundle_host" "${MODEL}" RESULT_VARIABLE status ERROR_VARIABLE err)
string(FIND "${err}" "cannot load the inference module: ${module}: cannot open" at)
if(status EQUAL 0 OR at EQUAL -1)
    string(APPEND problems "without the module the host gave (${status}): ${err}\n")
endif()
file(REMOVE_RECURSE "${work}")
if(problems)
    message(FATAL_ERROR "${problems}all the host mapped:\n${out}")
endif()
list(LENGTH mapped count)
message(STATUS "the moved bundle ran the model; ${count} shared objects mapped, none from ${SOURCE_DIR}, "
    "${BUILD_DIR} or ${RUNTIME_DIR}")
