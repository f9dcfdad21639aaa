# What `cmake --install` puts under its prefix, a tree that may be moved
# anywhere as a whole:
#
#   include/image_ai_inference.h, image_ai_host.h
#   lib/ (bin/ on Windows)   the module, the isolated module with its worker
#                            (Linux), and the part of the OpenVINO runtime it
#                            uses, side by side: the runtime finds its plugins
#                            and readers next to its own library, and the
#                            module's RUNPATH is $ORIGIN
#   lib/cmake/Tessarine/     the package: Tessarine::Interface, Tessarine_MODULE_FILE
#   licenses/                NOTICE, and the runtime's licence and notices in openvino/
#
# CPack packs the same tree (tar.gz; zip on Windows).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
    set(TESSARINE_INSTALL_RUNTIME_DIR ${CMAKE_INSTALL_BINDIR})
else()
    set(TESSARINE_INSTALL_RUNTIME_DIR ${CMAKE_INSTALL_LIBDIR})
endif()
set(TESSARINE_INSTALL_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tessarine)

install(TARGETS tessarine_openvino
    LIBRARY DESTINATION ${TESSARINE_INSTALL_RUNTIME_DIR}
    RUNTIME DESTINATION ${TESSARINE_INSTALL_RUNTIME_DIR})
# The isolated module and the worker it starts from its own folder.
if(TESSARINE_ISOLATED)
    install(TARGETS tessarine_openvino_isolated tessarine_worker
        LIBRARY DESTINATION ${TESSARINE_INSTALL_RUNTIME_DIR}
        RUNTIME DESTINATION ${TESSARINE_INSTALL_RUNTIME_DIR})
endif()
install(FILES include/image_ai_inference.h include/image_ai_host.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The runtime's files, from where the runtime library itself lies (the wheel's
# openvino/libs, or the archive's runtime/bin/intel64/Release). Only what the
# module's devices need: CPU, GPU, NPU and AUTO (which provides MULTI), the
# ONNX and IR readers. Left out: the BATCH plugin (only ever used for the GPU
# under the throughput hint, which the module never sets), HETERO, the other
# readers, the C API and everything Python. The wheel has no plugins.xml: its
# runtime knows its plugins' file names and looks for them beside itself; a
# distribution built to read one has it beside the runtime, and it is taken.
get_target_property(ov_runtime_file openvino::runtime IMPORTED_LOCATION_RELEASE)
if(NOT ov_runtime_file)
    get_target_property(ov_runtime_file openvino::runtime LOCATION)
endif()
get_filename_component(ov_dir "${ov_runtime_file}" DIRECTORY)
get_filename_component(ov_runtime_name "${ov_runtime_file}" NAME)
set(ov_files "${ov_runtime_file}")
foreach(plugin intel_cpu intel_gpu intel_npu auto)
    list(APPEND ov_files "${ov_dir}/${CMAKE_SHARED_LIBRARY_PREFIX}openvino_${plugin}_plugin${CMAKE_SHARED_LIBRARY_SUFFIX}")
endforeach()
# The readers carry the runtime's own name ending (libopenvino.so.2450 on Linux).
foreach(reader onnx ir)
    string(REPLACE "openvino" "openvino_${reader}_frontend" reader_name "${ov_runtime_name}")
    list(APPEND ov_files "${ov_dir}/${reader_name}")
endforeach()
# cache.json: the GPU plugin's kernel tuning data, read from beside the plugin.
foreach(data cache.json plugins.xml)
    if(EXISTS "${ov_dir}/${data}")
        list(APPEND ov_files "${ov_dir}/${data}")
    endif()
endforeach()

# oneTBB: the runtime links tbb; tbb loads tbbmalloc, tbbbind and hwloc
# (NUMA nodes and core types for the CPU plugin's pinning) from beside itself.
if(WIN32)
    set(tbb_name tbb12.dll)
else()
    set(tbb_name libtbb.so.12)
endif()
find_path(TESSARINE_TBB_DIR ${tbb_name} PATHS "${ov_dir}" "${OpenVINO_DIR}/../3rdparty/tbb/bin"
    "${OpenVINO_DIR}/../3rdparty/tbb/lib" DOC "Folder of the runtime's oneTBB libraries" NO_DEFAULT_PATH)
file(GLOB tbb_companions
    "${TESSARINE_TBB_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}tbbmalloc${CMAKE_SHARED_LIBRARY_SUFFIX}*"
    "${TESSARINE_TBB_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}tbbbind_2_5${CMAKE_SHARED_LIBRARY_SUFFIX}*"
    "${TESSARINE_TBB_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}hwloc${CMAKE_SHARED_LIBRARY_SUFFIX}*")
install(FILES ${ov_files} "${TESSARINE_TBB_DIR}/${tbb_name}" ${tbb_companions}
    DESTINATION ${TESSARINE_INSTALL_RUNTIME_DIR})

# Licences: this bundle's notice, and the runtime's licence, third-party
# notices and legal notice (readme.txt) as its distribution ships them: the
# wheel's dist-info folder, the archive's docs/licensing.
set(ov_legal_files)
foreach(dir "${OpenVINO_DIR}/../../openvino-*.dist-info" "${OpenVINO_DIR}/../../docs/licensing")
    file(GLOB found "${dir}/LICENSE" "${dir}/*third-party-programs.txt" "${dir}/readme.txt")
    list(APPEND ov_legal_files ${found})
endforeach()
if(NOT ov_legal_files)
    message(WARNING "The OpenVINO runtime's licence was not found beside ${OpenVINO_DIR}; the bundle will lack it")
endif()
install(FILES cmake/NOTICE DESTINATION licenses)
install(FILES ${ov_legal_files} DESTINATION licenses/openvino)

# The package, for hosts that build against the header and load the module at
# run time. Not architecture-independent: a 32-bit host cannot load the module.
install(TARGETS tessarine_interface EXPORT TessarineTargets INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT TessarineTargets NAMESPACE Tessarine:: DESTINATION ${TESSARINE_INSTALL_PACKAGE_DIR})
set(TESSARINE_MODULE_INSTALL_FILE
    ${TESSARINE_INSTALL_RUNTIME_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}tessarine_openvino${CMAKE_SHARED_LIBRARY_SUFFIX})
configure_package_config_file(cmake/TessarineConfig.cmake.in ${PROJECT_BINARY_DIR}/TessarineConfig.cmake
    INSTALL_DESTINATION ${TESSARINE_INSTALL_PACKAGE_DIR} PATH_VARS TESSARINE_MODULE_INSTALL_FILE)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TessarineConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TessarineConfig.cmake ${PROJECT_BINARY_DIR}/TessarineConfigVersion.cmake
    DESTINATION ${TESSARINE_INSTALL_PACKAGE_DIR})

if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_PACKAGE_NAME tessarine)
set(CPACK_PACKAGE_FILE_NAME tessarine-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OpenVINO inference module for image hosts, with the runtime it needs")
include(CPack)
