# Installs the launcher, the library with its header, a CMake package
# (find_package(IniFileIndex) giving ini::ini), a pkg-config file
# (inifileindex) and the manual page; and describes the Debian package.
include(CMakePackageConfigHelpers)

set(INI_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/IniFileIndex)

install(TARGETS launcher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ini
    EXPORT IniFileIndexTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ini)
install(EXPORT IniFileIndexTargets NAMESPACE ini:: DESTINATION ${INI_CMAKE_DIR})

configure_package_config_file(packaging/IniFileIndexConfig.cmake.in
    ${PROJECT_BINARY_DIR}/IniFileIndexConfig.cmake
    INSTALL_DESTINATION ${INI_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/IniFileIndexConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/IniFileIndexConfig.cmake
    ${PROJECT_BINARY_DIR}/IniFileIndexConfigVersion.cmake
    DESTINATION ${INI_CMAKE_DIR})

# Relative to the .pc file, so the same file serves any prefix.
file(RELATIVE_PATH INI_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(packaging/inifileindex.pc.in ${PROJECT_BINARY_DIR}/inifileindex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/inifileindex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES launcher/launcher.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME inifileindex)
set(CPACK_PACKAGE_VENDOR "IniFileIndex developers")
set(CPACK_PACKAGE_CONTACT "IniFileIndex developers <maintainers@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "two-command launcher and an INI library that keeps comments")
set(CPACK_PACKAGE_DESCRIPTION "launcher runs cmd1 from config.ini, waits ms milliseconds and runs cmd2.
The static library IniFileIndex loads INI text keeping section and key order
and every comment, edits it and writes it back with the comments in place.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
include(CPack)
