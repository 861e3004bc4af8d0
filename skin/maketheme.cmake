# Writes the theme file: the magic ".SHE", the format line, then the style
# sheet as it is (UTF-8).
file(READ ${SHEET} sheet)
file(WRITE ${OUT} ".SHE qss 1\n${sheet}")
