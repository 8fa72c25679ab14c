# Builds one locale with localedef into OUT (cmake -DLOCALEDEF=... -DINPUT=zh_CN -DCHARMAP=UTF-8
# -DOUT=dir -P BuildLocale.cmake). It goes to a scratch folder first and is renamed into place,
# so an interrupted build never leaves a locale that looks complete. A failure is reported but
# does not stop the build: the clock tests then fail and say which locale is missing.
file(REMOVE_RECURSE "${OUT}.tmp")
if(NOT LOCALEDEF)
  message(WARNING "localedef not found: the test locale ${INPUT}.${CHARMAP} is not built "
                  "(it comes with the C library's binaries; the locale sources with package locales)")
  return()
endif()
get_filename_component(parent "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${parent}")
execute_process(COMMAND "${LOCALEDEF}" -i "${INPUT}" -f "${CHARMAP}" "${OUT}.tmp"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE_RECURSE "${OUT}.tmp")
  message(WARNING "localedef -i ${INPUT} -f ${CHARMAP} failed (${result}); the clock tests "
                  "will fail. Is the Debian package locales installed?\n${output}")
  return()
endif()
file(REMOVE_RECURSE "${OUT}")
file(RENAME "${OUT}.tmp" "${OUT}")
