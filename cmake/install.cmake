# What `cmake --install` puts in place: the program, mogem-csv and mogem-plot, the man page,
# and the library as a static library with its three headers and a CMake package, so that
# another project can say find_package(mogem) and link mogem::engine.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MOGEM_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/mogem)
set(MOGEM_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/mogem)

set_target_properties(mogem_engine PROPERTIES EXPORT_NAME engine)
add_library(mogem::engine ALIAS mogem_engine)

install(TARGETS mogem mogem-csv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS tools/mogem-plot DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/mogem.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Three headers are the whole interface: mogem/mogem.h (fits), mogem/files.h (the program's
# files), mogem/processes.h (fits over several processes); the engine's own headers stay behind.
install(TARGETS mogem_engine EXPORT mogemTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/mogem/mogem.h include/mogem/files.h include/mogem/processes.h
        DESTINATION ${MOGEM_INSTALL_INCLUDEDIR})
install(EXPORT mogemTargets NAMESPACE mogem:: DESTINATION ${MOGEM_INSTALL_CMAKEDIR})

configure_package_config_file(cmake/mogemConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/mogemConfig.cmake
                              INSTALL_DESTINATION ${MOGEM_INSTALL_CMAKEDIR})
# Before 1.0 a minor version may change the engine's interface.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/mogemConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/mogemConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/mogemConfigVersion.cmake
        DESTINATION ${MOGEM_INSTALL_CMAKEDIR})
