# Writes the manual page of one program from its own --help text, so that
# the page and the help never drift apart. Run as a script:
#   cmake -DPROGRAM=path -DNAME=kalfetch5 -DSUMMARY="..." -DVERSION=1.18.0
#         -DSEE_ALSO="kalxlat(1), kalvor-sim(1)" -DOUT=dir -P manpage.cmake
# gives OUT/NAME.1.gz (section 1, compressed as Debian wants it).
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help ended with ${status}")
endif()

# roff: a backslash is \e, a dash \-, and a line may not start with . or '.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
# An empty line in a no-fill block is kept as one.
string(REGEX REPLACE "\n[ ]*\n" "\n.sp\n" help "${help}")
string(REGEX REPLACE "\n[ ]+\n" "\n.sp\n" help "${help}")
string(TOUPPER "${NAME}" title)
string(REPLACE "-" "\\-" name_roff "${NAME}")
string(REPLACE "-" "\\-" see_also_roff "${SEE_ALSO}")

set(page ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"
.SH NAME
${name_roff} \\- ${SUMMARY}
.SH SYNOPSIS AND OPTIONS
The text of
.B ${name_roff} \\-\\-help:
.PP
.nf
${help}.fi
.SH FILES
.I /usr/share/doc/kalfetch5/README.md
\\- how a crew uploads and transcribes a survey, the file formats, and where
the reference lies.
.SH SEE ALSO
${see_also_roff}
")
file(MAKE_DIRECTORY ${OUT})
file(WRITE ${OUT}/${NAME}.1 "${page}")
# gzip -n: no name or time stamp in the header, so the package is the same
# whenever it is built (lintian's package-contains-timestamped-gzip).
execute_process(COMMAND gzip -9nc ${OUT}/${NAME}.1 OUTPUT_FILE ${OUT}/${NAME}.1.gz RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip of ${NAME}.1 failed: ${gzip_result}")
endif()
