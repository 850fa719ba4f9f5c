# What `cmake --install` puts in a prefix: the libraries side by side (each
# finds its siblings through $ORIGIN, as the module finds the peer-network
# library beside itself), the host headers, the videoconf program, a CMake
# package (find_package(VideoConf)) and a pkg-config file (videoconf.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(vc_installed_libraries videoconf videoconf_platform KSNControlX vcodec_xvid)
set_target_properties(${vc_installed_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${vc_installed_libraries} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

if(TARGET videoconf_app)
  file(RELATIVE_PATH vc_bin_to_lib ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(videoconf_app PROPERTIES INSTALL_RPATH "$ORIGIN/${vc_bin_to_lib}")
  install(TARGETS videoconf_app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/videoconf
                  ${PROJECT_SOURCE_DIR}/platform/include/plat
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

set(vc_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/VideoConf)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/install/VideoConfConfig.cmake.in
  ${CMAKE_BINARY_DIR}/install/VideoConfConfig.cmake
  INSTALL_DESTINATION ${vc_cmake_dir}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/install/VideoConfConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/install/VideoConfConfig.cmake
              ${CMAKE_BINARY_DIR}/install/VideoConfConfigVersion.cmake
        DESTINATION ${vc_cmake_dir})

# Relocatable: the prefix is found from where the file lies.
file(RELATIVE_PATH vc_pc_to_prefix ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/install/videoconf.pc.in
               ${CMAKE_BINARY_DIR}/install/videoconf.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/videoconf.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
