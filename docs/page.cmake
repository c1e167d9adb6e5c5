# One page of the user guide: its Markdown through cmark-gfm, into the page template.
#   cmake -DCMARK_GFM=... -DINPUT=x.md -DOUTPUT=x.html -DTEMPLATE=page.html.in -DLANGUAGE=de -P page.cmake
cmake_minimum_required(VERSION 3.19)
execute_process(COMMAND ${CMARK_GFM} --to html -e table -e autolink ${INPUT}
                OUTPUT_VARIABLE body RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmark-gfm failed on ${INPUT}")
endif()
# The guides link to each other by their names in the repository; installed, they are index.html and en.html.
string(REPLACE "href=\"benutzerhandbuch.md" "href=\"index.html" body "${body}")
string(REPLACE "href=\"user-guide.md" "href=\"en.html" body "${body}")
# Headings get the anchors a repository page gives them (lower case, blanks as hyphens, punctuation
# dropped), so that the tables of contents work in both places.
string(REGEX MATCHALL "<h[1-4]>[^<]*</h[1-4]>" headings "${body}")
foreach(heading ${headings})
  string(REGEX REPLACE "^<h([1-4])>([^<]*)</h[1-4]>$" "\\1" level "${heading}")
  string(REGEX REPLACE "^<h[1-4]>([^<]*)</h[1-4]>$" "\\1" text "${heading}")
  string(TOLOWER "${text}" anchor)
  string(REPLACE "&amp;" "" anchor "${anchor}")
  string(REPLACE "&quot;" "" anchor "${anchor}")
  string(REGEX REPLACE "[][!\"#$%&'()*+,./:;<=>?@\\^`{|}~„“”…–—]" "" anchor "${anchor}")
  string(REPLACE " " "-" anchor "${anchor}")
  string(REPLACE "${heading}" "<h${level} id=\"${anchor}\">${text}</h${level}>" body "${body}")
endforeach()
string(REGEX MATCH "<h1[^>]*>([^<]*)</h1>" found "${body}")
set(title "${CMAKE_MATCH_1}")
file(READ ${TEMPLATE} page)
string(REPLACE "@LANGUAGE@" "${LANGUAGE}" page "${page}")
string(REPLACE "@TITLE@" "${title}" page "${page}")
string(REPLACE "@BODY@" "${body}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
