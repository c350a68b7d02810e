# Installs the launcher, the library with its headers, a CMake package
# (find_package(IniFileIndex) giving ini::ini), a pkg-config file
# (inifileindex), the manual page, the copyright and changelog; and describes
# the Debian package.
include(CMakePackageConfigHelpers)

set(INI_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/IniFileIndex)

install(TARGETS iniedit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET launcher)
    install(TARGETS launcher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS ini
    EXPORT IniFileIndexTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
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

# Manual pages and the package's changelog are installed compressed, as
# Debian policy asks; gzip -n keeps the result the same from build to build.
function(ini_install_gzipped source destination)
    get_filename_component(name ${source} NAME)
    set(gzipped ${PROJECT_BINARY_DIR}/gz/${name}.gz)
    file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/gz)
    execute_process(COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/${source}
        OUTPUT_FILE ${gzipped} COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${source})
    install(FILES ${gzipped} DESTINATION ${destination})
endfunction()
if(TARGET launcher)
    ini_install_gzipped(launcher/launcher.1 ${CMAKE_INSTALL_MANDIR}/man1)
endif()
ini_install_gzipped(iniedit/iniedit.1 ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME inifileindex)
set(CPACK_PACKAGE_VENDOR "IniFileIndex developers")
set(CPACK_PACKAGE_CONTACT "IniFileIndex developers <maintainers@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "INI library that keeps comments, INI file editor and launcher")
set(CPACK_PACKAGE_DESCRIPTION "iniedit reads and edits INI files from the command line, changing only
the lines an edit is about. launcher runs cmd1 from config.ini, waits ms
milliseconds and runs cmd2. The library IniFileIndex loads INI text keeping
section and key order and every comment, edits it and writes it back.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The licence and changelog in the form Debian asks for, in every install.
install(FILES packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/inifileindex)
ini_install_gzipped(packaging/debian/changelog ${CMAKE_INSTALL_DATAROOTDIR}/doc/inifileindex)
include(CPack)
