# Installation and packages. Linux: the three executables in bin/, their
# manual pages in share/man/man1/, the README in share/doc/kalfetch5/;
# package kalfetch5_<version>_amd64.deb. Windows: the two executables and the
# crew's part of the README as text with CR LF line ends, in
# kalfetch5-<version>-win64.zip. scripts/package builds both.
if(WIN32)
  install(TARGETS kalfetch5 kalxlat RUNTIME DESTINATION .)
  # The crew's part of the README (its top, up to the end mark), without the
  # marks; Notepad and every other Windows editor want CR LF.
  file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
  string(FIND "${readme}" "<!-- end of the crew part -->" crew_end)
  if(crew_end LESS 0)
    message(FATAL_ERROR "README.md has no end mark of the crew part")
  endif()
  string(SUBSTRING "${readme}" 0 ${crew_end} readme)
  string(REGEX REPLACE "^<!--[^\n]*-->\n" "" readme "${readme}")
  string(REPLACE "\r\n" "\n" readme "${readme}")
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${readme}")
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kalfetch5-${PROJECT_VERSION}-win64)
else()
  include(GNUInstallDirs)
  install(TARGETS kalfetch5 kalxlat RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET kalvor_sim)
    install(TARGETS kalvor_sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  # The manual pages, made from each program's --help after it is built.
  set(kal_man_dir ${CMAKE_BINARY_DIR}/man)
  set(kal_man_pages)
  foreach(page IN ITEMS
          "kalfetch5|kalfetch5|upload the Kalvor sensor's memory into a RAW file and transcribe it|kalxlat(1), kalvor-sim(1)"
          "kalxlat|kalxlat|transcribe a RAW file of the Kalvor sensor into survey formats|kalfetch5(1), kalvor-sim(1)"
          "kalvor_sim|kalvor-sim|a simulated Kalvor sensor on a pseudo-terminal|kalfetch5(1), kalxlat(1)")
    string(REPLACE "|" ";" fields "${page}")
    list(GET fields 0 target)
    list(GET fields 1 name)
    list(GET fields 2 summary)
    list(GET fields 3 see_also)
    if(TARGET ${target})
      add_custom_command(OUTPUT ${kal_man_dir}/${name}.1.gz
        COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DNAME=${name} "-DSUMMARY=${summary}"
                -DVERSION=${PROJECT_VERSION} "-DSEE_ALSO=${see_also}" -DOUT=${kal_man_dir}
                -P ${CMAKE_SOURCE_DIR}/cmake/manpage.cmake
        DEPENDS ${target} ${CMAKE_SOURCE_DIR}/cmake/manpage.cmake VERBATIM)
      list(APPEND kal_man_pages ${kal_man_dir}/${name}.1.gz)
    endif()
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${kal_man_pages})
  install(FILES ${kal_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Debian wants the changelog of a native package compressed.
  # gzip -n: no time stamp in the header (lintian's package-contains-timestamped-gzip).
  execute_process(COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/changelog
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.gz RESULT_VARIABLE gzip_result)
  if(NOT gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip of the changelog failed: ${gzip_result}")
  endif()
  install(FILES README.md ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kalfetch5)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # kalfetch5_<version>_amd64.deb
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)    # the run-time libraries, from the binaries
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KALFETCH5 developers <kalfetch5@example.org>")
endif()
set(CPACK_PACKAGE_NAME kalfetch5)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "field program of the Kalvor ground-conductivity sensor")
set(CPACK_PACKAGE_DESCRIPTION "kalfetch5 finds the sensor on a serial port, uploads its memory
into a RAW file and transcribes it into the survey formats (XYZ, Geosoft,
Dat31, log, SAN, IDF, ICE); kalxlat transcribes existing RAW files;
kalvor-sim simulates the sensor.")
set(CPACK_STRIP_FILES ON)
include(CPack)
