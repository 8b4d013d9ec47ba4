# What the Windows build brings in instead of the Linux packages' libraries:
# fmt and CLI11 header-only from the Debian packages' headers, GoogleTest
# compiled from the sources Debian installs under /usr/src/googletest, and
# one static link per program so that each .exe needs only the system's own
# DLLs. No libcurl, libidn2 or cpp-httplib: the platform's own HTTP service
# and resolver take their place, and the HTTP test peers stay Linux programs.

# The host's header folders of the two header-only libraries, each linked
# alone into the build tree: adding /usr/include itself would put the Linux
# C library's headers in front of MinGW's.
set(LOADER_HOST_INCLUDE /usr/include CACHE PATH "Where fmt/ and CLI/ headers of the host are")
set(loader_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${loader_host_headers})
foreach(lib fmt CLI)
    if(NOT EXISTS ${LOADER_HOST_INCLUDE}/${lib})
        message(FATAL_ERROR "${LOADER_HOST_INCLUDE}/${lib} not found: scripts/install-deps.sh installs it")
    endif()
    file(CREATE_LINK ${LOADER_HOST_INCLUDE}/${lib} ${loader_host_headers}/${lib} SYMBOLIC)
endforeach()

add_library(loader_fmt INTERFACE)
target_include_directories(loader_fmt SYSTEM INTERFACE ${loader_host_headers})
target_compile_definitions(loader_fmt INTERFACE FMT_HEADER_ONLY)
add_library(fmt::fmt ALIAS loader_fmt)

add_library(loader_cli11 INTERFACE)
target_include_directories(loader_cli11 SYSTEM INTERFACE ${loader_host_headers})
add_library(CLI11::CLI11 ALIAS loader_cli11)

find_package(Threads REQUIRED)

# Every program carries the C and C++ runtimes and winpthreads itself.
add_link_options(-static)

if(BUILD_TESTING)
    set(LOADER_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    # GoogleTest's own sources are not held to our warnings.
    add_subdirectory(${LOADER_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(t gtest gtest_main)
        target_compile_options(${t} PRIVATE -w)
        get_target_property(dirs ${t} INTERFACE_INCLUDE_DIRECTORIES)
        set_target_properties(${t} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${dirs}")
    endforeach()
    # GoogleTest 1.11 and later name their targets GTest::gtest(_main) themselves.
    if(NOT TARGET GTest::gtest)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
    enable_testing()
    include(GoogleTest)
endif()
