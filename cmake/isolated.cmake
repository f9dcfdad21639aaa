# The isolated module: the same two exports and interface as
# tessarine_openvino, with each object's work done by a Tessarine in a worker
# process of its own, started from tessarine_worker beside the library. The
# library itself never loads the runtime. Linux only for now: the pieces
# specific to the system are behind src/isolated/platform.h.
#
# Not in the sanitized builds (cmake/sanitizers.cmake): the sanitizers'
# runtime in a worker would catch the very signals the isolation reports, and
# LeakSanitizer's tracer needs the ptrace the worker's confinement denies.
set(TESSARINE_ISOLATED OFF)
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR TESSARINE_SANITIZE OR TESSARINE_FUZZ)
    return()
endif()
set(TESSARINE_ISOLATED ON)

# What both sides use: the shared memory, the channel, the process.
add_library(tessarine_platform OBJECT src/isolated/platform_linux.cpp)
target_include_directories(tessarine_platform PUBLIC src)
set_target_properties(tessarine_platform PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden)

# The host side, in objects so that the tests can make objects of it with a
# worker of their own choosing.
add_library(tessarine_isolated_host OBJECT
    src/isolated/worker_link.cpp
    src/isolated/isolated_tessarine.cpp
    src/isolated/isolated_image_forms.cpp
    src/isolated/isolated_tensors.cpp)
target_link_libraries(tessarine_isolated_host PUBLIC tessarine_interface tessarine_platform)
target_compile_definitions(tessarine_isolated_host PUBLIC IMAGE_AI_MODULE_BUILD)
set_target_properties(tessarine_isolated_host PROPERTIES
    POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
target_compile_options(tessarine_isolated_host PRIVATE -Wall -Wextra)

add_library(tessarine_openvino_isolated SHARED src/isolated/isolated_exports.cpp)
target_link_libraries(tessarine_openvino_isolated PUBLIC tessarine_interface
    PRIVATE tessarine_isolated_host tessarine_platform ${CMAKE_DL_LIBS})
set_target_properties(tessarine_openvino_isolated PROPERTIES CXX_VISIBILITY_PRESET hidden)
target_link_options(tessarine_openvino_isolated PRIVATE
    "LINKER:--version-script=${CMAKE_CURRENT_SOURCE_DIR}/src/module/exports.map" "LINKER:--no-undefined")

# The worker: the module's own objects behind a request loop, confined.
# `tessarine_worker_executable(name extra_sources...)`: the shipped worker
# answers no probes; the tests build one that does.
add_library(tessarine_confinement OBJECT src/isolated/confinement_linux.cpp src/isolated/seccomp_filter_linux.cpp)
target_include_directories(tessarine_confinement PUBLIC src)
function(tessarine_worker_executable name)
    add_executable(${name} ${PROJECT_SOURCE_DIR}/src/worker/worker_main.cpp
        ${PROJECT_SOURCE_DIR}/src/worker/worker_calls.cpp ${ARGN})
    target_link_libraries(${name} PRIVATE tessarine_module tessarine_platform tessarine_confinement ${CMAKE_DL_LIBS})
    target_compile_options(${name} PRIVATE -Wall -Wextra)
    # Installed, the runtime's libraries sit beside the worker.
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
endfunction()
tessarine_worker_executable(tessarine_worker src/worker/no_probes.cpp)
add_dependencies(tessarine_openvino_isolated tessarine_worker)
