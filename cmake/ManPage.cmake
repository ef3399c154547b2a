# cmake -DPROGRAM=<path> -DNAME=<name> -DSUMMARY=<one line> -DVERSION=<v> -DOUTPUT=<file.1.gz> -P ManPage.cmake
# Writes a compressed man page whose body is the program's own --help text, so the two never
# disagree.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${status}")
endif()
string(REPLACE "\\" "\\e" help "${help}")
# A line starting with a dot or an apostrophe would be read as a request.
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TOUPPER "${NAME}" title)
string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
file(WRITE ${page} ".TH ${title} 1 \"\" \"Folioway ${VERSION}\" \"User Commands\"\n"
                     ".SH NAME\n${NAME} \\- ${SUMMARY}\n"
                     ".SH DESCRIPTION\n.nf\n${help}.fi\n"
                     ".SH SEE ALSO\nfolioway(1), folioway-server(1), folioway-toc(1)\n")
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${page} failed: ${status}")
endif()
