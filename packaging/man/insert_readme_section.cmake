# Fills a manual page's source from the README, so the two never drift: a
# line "@README_SETTINGS@" becomes the README's "Settings (`Velto.ini`)"
# section without its heading. Links into the README become plain text.
# cmake -DREADME=... -DSOURCE=... -DOUTPUT=... -P insert_readme_section.cmake
file(READ "${README}" readme)
string(FIND "${readme}" "## Settings (`Velto.ini`)\n" start)
if(start LESS 0)
  message(FATAL_ERROR "${README} has no Settings section")
endif()
string(SUBSTRING "${readme}" ${start} -1 section)
string(FIND "${section}" "\n" heading_end)
math(EXPR body_start "${heading_end} + 1")
string(SUBSTRING "${section}" ${body_start} -1 section)
string(FIND "${section}" "\n## " end)
if(end GREATER_EQUAL 0)
  string(SUBSTRING "${section}" 0 ${end} section)
endif()
# [text](#anchor) -> text
string(REGEX REPLACE "\\[([^]]*)\\]\\(#[^)]*\\)" "\\1" section "${section}")
file(READ "${SOURCE}" page)
# A page without the line is taken as it is.
string(REPLACE "@README_SETTINGS@" "${section}" page "${page}")
file(WRITE "${OUTPUT}" "${page}")
