# Turns one of our UTF-8 text sources into the GBK file with CR LF line ends
# that Chinese Windows editors expect. Fails the build on a character that
# GBK cannot hold instead of writing a damaged file.
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT}.utf8 "${text}")
execute_process(COMMAND iconv -f UTF-8 -t GBK ${OUT}.utf8
  OUTPUT_FILE ${OUT}.part RESULT_VARIABLE result ERROR_VARIABLE error)
file(REMOVE ${OUT}.utf8)
if(NOT result EQUAL 0)
  file(REMOVE ${OUT}.part)
  message(FATAL_ERROR "${IN} cannot be written in GBK: ${error}")
endif()
file(RENAME ${OUT}.part ${OUT})
