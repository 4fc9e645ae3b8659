# Run by cpack once the packages are built: adds the service's systemd unit
# to the corvane package. CPack cannot carry a file whose name holds a
# backslash, and the unit's name is the systemd escape of "Corvane Service".
# The unit comes from the one definition of its text (corvane-unit-text).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  if(NOT name MATCHES "^corvane_.*\\.deb$")
    continue()
  endif()
  set(tree "${CPACK_TEMPORARY_DIRECTORY}/add-unit")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  set(units "${tree}/usr/lib/systemd/system")
  file(MAKE_DIRECTORY "${units}")
  execute_process(COMMAND "${CPACK_CORVANE_UNIT_TOOL}" ${CPACK_CORVANE_UNIT_ARGUMENTS} "${units}"
                  OUTPUT_VARIABLE unit OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  # CMake's own path functions would turn the backslash into a slash too.
  string(REPLACE "${tree}/" "" relative "${unit}")
  execute_process(COMMAND md5sum "${relative}" WORKING_DIRECTORY "${tree}" OUTPUT_VARIABLE sum COMMAND_ERROR_IS_FATAL ANY)
  file(APPEND "${tree}/DEBIAN/md5sums" "${sum}")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${tree}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
  message(STATUS "Added ${relative} to ${name}")
endforeach()
