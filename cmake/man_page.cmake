# Fills in the man page's version: cmake -DIN= -DOUT= -DVERSION= -P man_page.cmake
file(READ ${IN} page)
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
file(WRITE ${OUT} "${page}")
