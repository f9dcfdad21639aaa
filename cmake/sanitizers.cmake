# TESSARINE_SANITIZE builds the module, GoogleTest and every
# test with AddressSanitizer and UndefinedBehaviorSanitizer. TESSARINE_FUZZ
# (Clang only) adds libFuzzer's coverage to the module's code and builds the
# fuzz targets; it implies TESSARINE_SANITIZE.
#
# Included before the tests and GoogleTest are added, so that the
# directory-wide options reach them too.
option(TESSARINE_SANITIZE "Build the module and the tests with AddressSanitizer and UBSan" OFF)
option(TESSARINE_FUZZ "Build the libFuzzer targets (Clang; implies TESSARINE_SANITIZE)" OFF)

if(TESSARINE_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TESSARINE_FUZZ needs Clang (libFuzzer); configure with CMAKE_CXX_COMPILER=clang++")
endif()
if(NOT TESSARINE_SANITIZE AND NOT TESSARINE_FUZZ)
    return()
endif()
set(TESSARINE_SANITIZE ON)

# -fno-sanitize-recover makes every UBSan finding fatal, so a finding fails
# the test that hit it instead of scrolling past in its output.
set(TESSARINE_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)

add_compile_options(${TESSARINE_SANITIZER_FLAGS})
add_link_options(-fsanitize=address,undefined)

target_compile_options(tessarine_module PRIVATE ${TESSARINE_SANITIZER_FLAGS})
if(TESSARINE_FUZZ)
    # Coverage for the fuzz targets (tests/hardening/fuzz), which link these objects.
    target_compile_options(tessarine_module PRIVATE -fsanitize=fuzzer-no-link)
endif()
target_link_options(tessarine_openvino PRIVATE -fsanitize=address,undefined)
# The sanitizer runtimes live in the executable that loads the module, as they
# must when a sanitized library is dlopened; the module's own link therefore
# has to accept their symbols as undefined.
get_target_property(tessarine_module_link_options tessarine_openvino LINK_OPTIONS)
list(REMOVE_ITEM tessarine_module_link_options "LINKER:--no-undefined")
set_property(TARGET tessarine_openvino PROPERTY LINK_OPTIONS ${tessarine_module_link_options})
